#include "cli/field_order.h"

namespace cli {

FieldOrderDecision ResolveFieldOrder(char requested, stream::FrameReader& reader) {
  FieldOrderDecision choice;
  if (requested == 't' || requested == 'b') {
    choice.bottomFirst = requested == 'b';
    choice.reason = "--field-order";
    return choice;
  }
  const stream::Y4mHeader& header = reader.Header();
  switch (stream::HeaderFieldOrder(header)) {
    case stream::FieldOrder::TopFirst: choice.reason = "the header's It"; return choice;
    case stream::FieldOrder::BottomFirst:
      choice.bottomFirst = true;
      choice.reason = "the header's Ib";
      return choice;
    case stream::FieldOrder::Unknown: break;
  }
  choice.reason = reader.Raw()              ? "assumed: raw input states no order"
                  : header.interlace == '?' ? "assumed: the header has no I tag"
                                            : std::string("assumed: the header says I") + header.interlace;
  return choice;
}

std::string DescribeFieldOrder(const FieldOrderDecision& choice) {
  return std::string(choice.bottomFirst ? "bottom" : "top") + " field first (" + choice.reason + ")";
}

}  // namespace cli
