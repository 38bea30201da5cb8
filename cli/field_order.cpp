#include "cli/field_order.h"

namespace cli {

FieldOrderChoice ResolveFieldOrder(stream::FieldOrder requested, stream::FrameReader& reader) {
  FieldOrderChoice choice;
  if (requested != stream::FieldOrder::Unknown) {
    choice.bottomFirst = requested == stream::FieldOrder::BottomFirst;
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

std::string DescribeFieldOrder(const FieldOrderChoice& choice) {
  return std::string(choice.bottomFirst ? "bottom" : "top") + " field first (" + choice.reason + ")";
}

}  // namespace cli
