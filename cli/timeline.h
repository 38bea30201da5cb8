// The plan timeline: a picture of a proposal, one column per field position,
// wrapped into strips of StripPositions columns, one under the other.
// Each column, top to bottom: a mark where the cadence breaks (black; grey
// ticks every 100 positions), the decision (film pick green, dropped light
// grey, video rebuild blue, orphan rebuild red) and the stretch (film olive,
// film without a regular cadence brown, progressive purple, video dark blue).
#ifndef ZEMIVTC_CLI_TIMELINE_H
#define ZEMIVTC_CLI_TIMELINE_H

#include <string>

#include "analysis/cadence.h"

namespace cli {

constexpr int StripPositions = 1000;

// The PNG file of the timeline.
std::string TimelinePng(const analysis::Proposal& proposal);

}  // namespace cli

#endif
