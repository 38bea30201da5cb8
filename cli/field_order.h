// Which field of a source comes first in time. The render and `zemivtc plan`
// decide it by one rule (DecideFieldOrder): --field-order when given, else
// the header's It or Ib, else what the footage shows (analysis/field_order.h,
// read from the stream's start), else top field first, which is as good as
// any where the footage shows nothing (progressive or still pictures).
#ifndef ZEMIVTC_CLI_FIELD_ORDER_H
#define ZEMIVTC_CLI_FIELD_ORDER_H

#include <string>

#include "analysis/field_order.h"
#include "stream/frame_reader.h"
#include "stream/y4m.h"

namespace cli {

struct FieldOrderDecision {
  bool bottomFirst = false;
  // Where the order comes from, for messages: "--field-order", "the
  // header's Ib", "measured: the header says Ip; ...", "assumed: ...".
  std::string reason;
  bool measured = false;  // neither the option nor the header said it
  // Set when the footage clearly says the other order than the option or
  // the header.
  std::string warning;
};

// The rule, given the footage's verdict (nullptr: not measured, as from a
// pipe that cannot be read twice).
FieldOrderDecision DecideFieldOrder(char requested, const stream::FrameReader& reader,
                                    const analysis::FieldOrderVerdict* measured);

// The render's decision: where neither the option nor the header says the
// order, it reads the start of a seekable input to measure it, as far as
// the verdict needs (the frames are read again for the render).
FieldOrderDecision ResolveFieldOrder(char requested, stream::FrameReader& reader);

// The footage's verdict from the frames the reader gives from here on, read
// until it is known or analysis::FieldOrderReach frame pairs are seen.
analysis::FieldOrderVerdict MeasureStreamFieldOrder(stream::FrameReader& reader);

// "bottom field first (the header's Ib)".
std::string DescribeFieldOrder(const FieldOrderDecision& decision);

}  // namespace cli

#endif
