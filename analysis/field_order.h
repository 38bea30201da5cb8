// Which field of each frame comes first in time, told from the footage
// when the stream does not say it.
//
// The two orders weave the same fields at even positions (a frame as it is)
// and different ones at odd positions: top first weaves frame k's bottom
// field with frame k+1's top field, bottom first frame k's top field with
// frame k+1's bottom field. Fields shown in their true order are closer in
// time, so their weave combs less: interlaced video shows the next moment
// (1/60 s) in the true order and one three times as far in the other;
// telecined film joins two fields of one film frame at three of every five
// odd positions in the true order and none in the other. Every frame pair
// that moves enough votes for the order whose odd weave combs clearly
// less; progressive footage, whose odd weaves are alike in both orders,
// votes for neither. A vote also needs the winning odd weave to comb no
// more than the frames themselves (the even positions around it), as a film
// frame's two fields or two video fields one moment apart do: progressive
// pictures moving up or down can make one order's odd weaves comb less than
// the other's, but never as little as the frames.
//
// The rule reads the frames in order and decides at the first frame pair
// where one order leads decisively, so that a command that reads only the
// start of a stream comes to the same answer as one that reads it all.
#ifndef ZEMIVTC_ANALYSIS_FIELD_ORDER_H
#define ZEMIVTC_ANALYSIS_FIELD_ORDER_H

#include <vector>

#include "analysis/field_measures.h"

namespace analysis {

struct FieldOrderVerdict {
  bool known = false;  // false: no evidence either way (progressive, still, too short)
  FieldOrder order = FieldOrder::TopFirst;
  int decidedAtFrame = -1;  // the frame whose pair settled it
  // Votes up to the decision, and over the whole clip.
  int topVotes = 0, bottomVotes = 0;
  int allTopVotes = 0, allBottomVotes = 0;
  // Before any vote, FieldOrderProgressivePairs moving frame pairs in a row
  // whose odd weaves comb in both orders: the start shows progressive
  // pictures (FieldOrderProbe::ProgressiveStart).
  bool progressiveStart = false;
};

// A vote needs the odd weave of one order to comb this much less than the
// other's, against the motion around it.
constexpr double FieldOrderMargin = 0.5;
// Frame pairs looked at, at most (about ten minutes at 30000/1001): footage
// that shows no order by then is taken to have none, and a reader of a long
// progressive file stops there.
constexpr int FieldOrderReach = 18000;
// One order decides once it has this many votes and FieldOrderLead times
// the other's.
constexpr int FieldOrderVotes = 16;
constexpr int FieldOrderLead = 6;
// The winning odd weave combs at most this much more than the frames
// around it, against the motion.
constexpr double FieldOrderClean = 1.5;
// Moving frame pairs in a row, before any vote, whose odd weave is not clean
// in either order, that tell a start of progressive pictures: the true
// order's odd weave is clean at every moving pair of video and at three in
// five of telecined film (so film's runs are two long), at none of
// progressive footage.
constexpr int FieldOrderProgressivePairs = 8;

// From the measures of both orders (FieldAnalyzer::Finish). `fieldSamples`
// is FieldAnalyzer::FieldSamples().
FieldOrderVerdict MeasureFieldOrder(const FieldAnalyzer::Result& measures, double fieldSamples);

// Incremental form of the same rule, for a reader that stops as soon as it
// knows: feed the measures of each odd position as the frames come.
class FieldOrderProbe {
 public:
  explicit FieldOrderProbe(double fieldSamples);
  // The odd position of frame pair (k, k+1) in both orders, and the even
  // positions of frames k and k+1 (alike in both).
  void Add(const PositionMeasures& frameBefore, const PositionMeasures& topFirst, const PositionMeasures& bottomFirst,
           const PositionMeasures& frameAfter);
  bool Decided() const { return verdict.known && verdict.decidedAtFrame >= 0; }
  // The start shows progressive pictures and no vote: a reader that needs
  // only the start's verdict may stop here (the verdict goes on counting
  // for one that reads on).
  bool ProgressiveStart() const { return verdict.progressiveStart; }
  // The verdict so far; at the end of the stream, `Final` also accepts a
  // clear lead of fewer votes.
  FieldOrderVerdict Final() const;

 private:
  double minMotion;
  int pairs = 0;
  int uncleanRun = 0;  // moving pairs in a row clean in neither order
  FieldOrderVerdict verdict;
};

}  // namespace analysis

#endif
