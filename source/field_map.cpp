#include "source/field_map.h"

namespace source {

FieldMap CodedFrames(const std::vector<CodedFrameFacts>& coded) {
  FieldMap map;
  map.frames.reserve(coded.size());
  for (size_t i = 0; i < coded.size(); ++i) {
    const int n = static_cast<int>(i);
    map.frames.push_back({n, n, coded[i].topFieldFirst});
  }
  return map;
}

FieldMap PlayerFrames(const std::vector<CodedFrameFacts>& coded) {
  FieldMap map;
  // The field waiting for a partner: its coded frame, parity (true: top), or none.
  int waitingFrom = -1;
  bool waitingTop = false;
  for (size_t i = 0; i < coded.size(); ++i) {
    const CodedFrameFacts& facts = coded[i];
    const int repeats = facts.repeatPict == 1 ? 1 : facts.repeatPict == 2 ? 2 : facts.repeatPict == 4 ? 4 : 0;
    map.repeatedFields += repeats;
    bool top = facts.topFieldFirst;
    for (int field = 0; field < 2 + repeats; ++field, top = !top) {
      if (waitingFrom < 0) {
        waitingFrom = static_cast<int>(i);
        waitingTop = top;
      } else if (waitingTop == top) {
        ++map.droppedFields;
        waitingFrom = static_cast<int>(i);
      } else {
        const int here = static_cast<int>(i);
        map.frames.push_back({waitingTop ? waitingFrom : here, waitingTop ? here : waitingFrom, waitingTop});
        waitingFrom = -1;
      }
    }
  }
  if (waitingFrom >= 0) ++map.droppedFields;
  return map;
}

}  // namespace source
