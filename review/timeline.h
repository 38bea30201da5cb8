// The plan timeline: a picture of a proposal that reads at any length.
//
// The clip is cut into rows of a round duration (5 s for a short clip, 3
// minutes for a film), chosen so that there are at most MaxTimelineRows
// rows and a row fills most of the picture's width; each row is labelled
// with its start as hh:mm:ss and as a position, and a ruler above the rows
// gives the offsets within a row. A short clip gets several columns per
// position; a long one several positions per column, each column showing
// the rarest code among its positions (a field rebuilt alone, then a video
// field, a smoothed frame, a picked frame, and dropped positions last).
// Each row, top to bottom: marks (cadence breaks black, review places
// orange, kept codes cyan), the decisions, and the stretch. A legend of
// every colour closes the picture.
#ifndef ZEMIVTC_CLI_TIMELINE_H
#define ZEMIVTC_CLI_TIMELINE_H

#include <string>
#include <vector>

#include "analysis/cadence.h"

namespace cli {

constexpr int MaxTimelineRows = 40;
constexpr int TimelinePlotWidth = 1200;  // columns of a full row at most

struct TimelineScale {
  int rowSeconds = 0;  // a row's duration
  int rows = 0;
  int positionsPerColumn = 1;  // more than 1 for long clips
  int columnsPerPosition = 1;  // more than 1 for short ones
  double tickSeconds = 0;      // the ruler's step
};
TimelineScale ChooseTimelineScale(int positions);

// First position of row r (positions run at 60000/1001 a second).
int TimelineRowStart(const TimelineScale& scale, int row);

// Where a review place's mark lies in the picture, for an image map.
struct TimelineArea {
  int position;
  int x0, y0, x1, y1;
};

// The PNG file of the timeline, with the review places (positions) marked;
// `areas` (if given) receives each place's mark.
std::string TimelinePng(const analysis::Proposal& proposal, const std::vector<int>& places = {},
                        std::vector<TimelineArea>* areas = nullptr);

// hh:mm:ss of position p, with `decimals` digits of the second.
std::string PositionTime(int p, int decimals = 0);

}  // namespace cli

#endif
