#include "analysis/field_order.h"

#include <algorithm>

namespace analysis {
namespace {

// Settles the verdict on the leading order when it has at least `votes`
// votes and FieldOrderLead times the other's.
bool Settle(FieldOrderVerdict& v, int votes) {
  const int lead = std::max(v.topVotes, v.bottomVotes), other = std::min(v.topVotes, v.bottomVotes);
  if (lead < votes || lead < FieldOrderLead * other) return false;
  v.known = true;
  v.order = v.topVotes > v.bottomVotes ? FieldOrder::TopFirst : FieldOrder::BottomFirst;
  return true;
}

}  // namespace

FieldOrderProbe::FieldOrderProbe(double fieldSamples) : minMotion(std::max(2000.0, fieldSamples)) {}

void FieldOrderProbe::Add(const PositionMeasures& frameBefore, const PositionMeasures& top,
                          const PositionMeasures& bottom, const PositionMeasures& frameAfter) {
  const int frame = pairs++;
  if (frame >= FieldOrderReach) return;
  // Both orders count the same blocks as moving at an odd position (the
  // change of both parities decides), so one motion scales both.
  const double motion = std::max(top.motion, bottom.motion);
  if (motion < minMotion) return;
  const double lead = (bottom.comb - top.comb) / motion;
  int vote = 0;
  if (lead > FieldOrderMargin) vote = 1;
  if (lead < -FieldOrderMargin) vote = -1;
  const double frames = std::max(frameBefore.comb, frameAfter.comb);
  const bool clean = (std::min(top.comb, bottom.comb) - frames) / motion <= FieldOrderClean;
  uncleanRun = clean ? 0 : uncleanRun + 1;
  if (uncleanRun >= FieldOrderProgressivePairs && verdict.allTopVotes + verdict.allBottomVotes == 0)
    verdict.progressiveStart = true;
  if (vote == 0 || !clean) return;
  (vote > 0 ? verdict.allTopVotes : verdict.allBottomVotes)++;
  if (Decided()) return;
  (vote > 0 ? verdict.topVotes : verdict.bottomVotes)++;
  if (Settle(verdict, FieldOrderVotes)) verdict.decidedAtFrame = frame;
}

FieldOrderVerdict FieldOrderProbe::Final() const {
  FieldOrderVerdict v = verdict;
  // The stream ended first: half the votes, with the same lead, still tell.
  if (!v.known) Settle(v, FieldOrderVotes / 2);
  return v;
}

FieldOrderVerdict MeasureFieldOrder(const FieldAnalyzer::Result& measures, double fieldSamples) {
  FieldOrderProbe probe(fieldSamples);
  const std::vector<PositionMeasures>& top = measures.In(FieldOrder::TopFirst);
  const std::vector<PositionMeasures>& bottom = measures.In(FieldOrder::BottomFirst);
  for (size_t p = 1; p + 1 < top.size() && p < bottom.size(); p += 2)
    probe.Add(top[p - 1], top[p], bottom[p], top[p + 1]);
  return probe.Final();
}

}  // namespace analysis
