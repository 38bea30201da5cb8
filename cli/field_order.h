// Which field of a source comes first in time. The render and `zemivtc plan`
// decide it by one rule (DecideFieldOrder): --field-order when given, else
// the header's It or Ib, else what the footage shows (analysis/field_order.h,
// read from the stream's start), else top field first, which is as good as
// any where the footage shows nothing (progressive or still pictures). A
// render whose plan makes the same frames in either order
// (PlanDependsOnFieldOrder) needs none of this: OrderDoesNotMatter.
#ifndef ZEMIVTC_CLI_FIELD_ORDER_H
#define ZEMIVTC_CLI_FIELD_ORDER_H

#include <string>

#include "analysis/field_order.h"
#include "stream/frame_reader.h"
#include "stream/row_bands.h"
#include "stream/y4m.h"

namespace cli {

struct FieldOrderDecision {
  bool bottomFirst = false;
  // Where the order comes from, for messages: "--field-order", "the
  // header's Ib", "measured: the header says Ip; ...", "assumed: ...".
  std::string reason;
  bool measured = false;    // neither the option nor the header said it
  bool fromHeader = false;  // the header's It or Ib said it
  bool irrelevant = false;  // the plan makes the same frames in either order
  // Set when the footage clearly says the other order than the option or
  // the header.
  std::string warning;
};

// The rule, given the footage's verdict (nullptr: not measured, as from a
// pipe that cannot be read twice).
FieldOrderDecision DecideFieldOrder(char requested, const stream::FrameReader& reader,
                                    const analysis::FieldOrderVerdict* measured);

// The render reads at most this many frames of its input's start to measure
// the order: 5 seconds at 30000/1001. Footage that moves decides within one
// or two seconds (16 votes: every moving frame pair of video votes, three in
// five of telecined film), which leaves some three seconds for a still
// opening (black, a title); a start of progressive pictures ends the reading
// sooner (analysis::FieldOrderProgressivePairs).
constexpr int RenderFieldOrderFrames = 150;

// The render's decision for a plan that depends on the order: where neither
// the option nor the header says it, it reads the start of a seekable input
// to measure it, as far as the verdict needs and at most
// RenderFieldOrderFrames frames, the luma's rows spread over `bands`. The
// frames' mapped pages stay for the render, which reads them next.
FieldOrderDecision ResolveFieldOrder(char requested, stream::FrameReader& reader, stream::RowBands* bands = nullptr);

// The decision for a plan that makes the same frames in either order:
// nothing is measured, and the frames are handed over as they lie.
FieldOrderDecision OrderDoesNotMatter();

// The footage's verdict from the frames the reader gives from here on, read
// until it is known, its start shows progressive pictures, or `maxFrames`
// frames are read; `framesRead` gets their count.
analysis::FieldOrderVerdict MeasureStreamFieldOrder(stream::FrameReader& reader, int maxFrames, stream::RowBands* bands,
                                                    int* framesRead);

// "bottom field first (the header's Ib)"; "does not matter for this plan".
std::string DescribeFieldOrder(const FieldOrderDecision& decision);

}  // namespace cli

#endif
