// The frames a source gives, from the facts of its coded frames: as coded,
// or as a player shows them, with the repeat-first-field flags (soft
// telecine) applied and the fields paired again in display order.
#ifndef ZEMIVTC_SOURCE_FIELD_MAP_H
#define ZEMIVTC_SOURCE_FIELD_MAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace source {

// What the first full reading of a source learns of each coded frame (in
// display order): a hash of its decoded pixels, which later readings of the
// frame must reproduce, and its flags.
struct CodedFrameFacts {
  uint64_t hash = 0;
  bool topFieldFirst = true;
  bool interlaced = false;
  // Extra fields the frame is shown for, as the decoder reports them: 1
  // repeats its first field (soft telecine), 2 and 4 repeat the whole frame
  // once or twice (a progressive sequence's frame doubling and tripling).
  uint8_t repeatPict = 0;
};

// One given frame: the coded frames its top and bottom fields come from,
// and which of them a player shows first.
struct FieldPair {
  int topFrom = 0;
  int bottomFrom = 0;
  bool topFirst = true;
};

struct FieldMap {
  std::vector<FieldPair> frames;
  int repeatedFields = 0;  // fields shown again by the flags
  int droppedFields = 0;   // fields left without a partner of the other parity
};

// Each coded frame as it is: frame n is coded frame n, its order its own.
FieldMap CodedFrames(const std::vector<CodedFrameFacts>& coded);

// The fields in the order a player shows them (each frame's first field,
// its second, and the first again where repeatPict says so), paired into
// frames in turn: each field with the next when that is of the other
// parity. A field followed by one of its own parity (a flag error, an edit
// that broke the field rhythm) and a last field left alone are dropped and
// counted, as a player's repeat-field filter drops them.
FieldMap PlayerFrames(const std::vector<CodedFrameFacts>& coded);

}  // namespace source

#endif
