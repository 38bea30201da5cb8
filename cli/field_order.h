// Which field of a source comes first in time. The render and `zemivtc plan`
// both ask ResolveFieldOrder, the one place where the order is decided.
#ifndef ZEMIVTC_CLI_FIELD_ORDER_H
#define ZEMIVTC_CLI_FIELD_ORDER_H

#include <string>

#include "stream/frame_reader.h"
#include "stream/y4m.h"

namespace cli {

struct FieldOrderDecision {
  bool bottomFirst = false;
  // Where the order comes from, for messages: "--field-order", "the
  // header's Ib", "assumed: the header says Ip".
  std::string reason;
};

// The order of `reader`'s source: `requested` (--field-order: 't' or 'b')
// when given, else the header's It or Ib. Where neither says (Ip, Im, no I
// tag, raw input) the source is taken as top field first.
FieldOrderDecision ResolveFieldOrder(char requested, stream::FrameReader& reader);

// "bottom field first (the header's Ib)".
std::string DescribeFieldOrder(const FieldOrderDecision& decision);

}  // namespace cli

#endif
