#include "analysis/cadence.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace analysis {
namespace {

// Picture lengths in fields, one cycle of each cadence. The first is the
// choice where nothing in the clip tells (a still clip): whole frames.
// Film drawn on twos needs no cadence of its own: as 24 frames a second
// (3:2) it comes out with each drawing twice, at the film's own rate.
struct CadenceCycle {
  const char* name;
  std::vector<int> runs;
};
const std::vector<CadenceCycle>& Cycles() {
  static const std::vector<CadenceCycle> cycles = {
      {"2:2", {2}},
      {"3:2", {2, 3}},
      {"2:3:3:2", {2, 3, 3, 2}},
      {"3:2:3:2:2", {3, 2, 3, 2, 2}},
      {"2:2:2:4", {2, 2, 2, 4}},
      {"video", {1}},
  };
  return cycles;
}
constexpr int VideoCadence = 5;
constexpr int ProgressiveCadence = 0;

// Costs, in units of one position fully judged. A combed weave must cost
// more than leaving a cadence and coming back to it, so that no cadence is
// kept across a weave the measures call combed.
constexpr double CombedWeaveCost = 20;   // joining fields the measures call two moments
constexpr double SplitCost = 3;          // separating fields that look like one moment
constexpr double ChangedRepeatCost = 6;  // three fields in one picture whose outer two differ
constexpr double LoneStillCost = 3;      // a lone field between two fields that repeat each other
constexpr double SwitchCost = 6;         // a change of cadence or phase
constexpr double IrregularCost = 1.5;    // each position followed without a cadence

// Comb excess over motion below RatioLow reads as one moment, above
// RatioHigh as two. A moving edge woven from two film frames gives about 1,
// video fields (half the motion of a frame pair) about 0.5.
constexpr double RatioLow = 0.15;
constexpr double RatioHigh = 0.4;
// A weave whose ratio is AlikeHigh or more of its neighbours' (and at least
// twice AlikeFloor) is combed too: that is video with little combing.
constexpr double AlikeLow = 0.55;
constexpr double AlikeHigh = 0.85;
constexpr double AlikeFloor = 0.05;
// Both sides of a weave changing this many times more than usual: a cut.
constexpr double SceneChange = 8;
constexpr int MedianReach = 4;
// Change between fields of one parity two apart, against the usual change:
// below RepeatLow a repeated field, above RepeatHigh a new moment.
constexpr double RepeatLow = 0.15;
constexpr double RepeatHigh = 0.4;
// The forward costs are kept every this many positions for the margins,
// which are taken going backward and recompute the costs in between.
constexpr int MarginBlock = 512;

struct State {
  int cadence;  // -1: irregular
  int phase;
  int period;
  bool boundary;
};

std::vector<State> BuildStates() {
  std::vector<State> states;
  const auto& cycles = Cycles();
  for (int c = 0; c < static_cast<int>(cycles.size()); ++c) {
    std::vector<bool> pattern;
    for (int run : cycles[c].runs)
      for (int i = 0; i < run; ++i) pattern.push_back(i == run - 1);
    for (int phase = 0; phase < static_cast<int>(pattern.size()); ++phase)
      states.push_back({c, phase, static_cast<int>(pattern.size()), pattern[phase]});
  }
  states.push_back({-1, 0, 1, false});
  states.push_back({-1, 0, 1, true});
  return states;
}

double Smooth(double x) {
  x = std::min(1.0, std::max(0.0, x));
  return x * x * (3 - 2 * x);
}

struct Evidence {
  double combed = 0;  // 0..1
  double weight = 0;  // 0..1
};

}  // namespace

const std::vector<std::string>& CadenceNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const CadenceCycle& c : Cycles()) n.push_back(c.name);
    return n;
  }();
  return names;
}

std::string CadenceName(int cadence) {
  return cadence >= 0 && cadence < static_cast<int>(CadenceNames().size()) ? CadenceNames()[cadence] : "irregular";
}

Proposal ProposePlan(const std::vector<PositionMeasures>& measures, double fieldPixels,
                     const Constraints* constraints) {
  Proposal proposal;
  const int count = static_cast<int>(measures.size());
  proposal.positions.resize(count);
  if (count == 0) return proposal;
  const double infinity = std::numeric_limits<double>::infinity();
  const bool constrained = constraints && !constraints->code.empty();
  auto keptCode = [&](int p) { return constrained ? constraints->code[p] : '\0'; };
  auto keptBoundary = [&](int p) { return constrained ? constraints->boundary[p] : -1; };
  auto fieldTaken = [&](int f) { return constrained && constraints->fieldTaken[f]; };

  // Motion below this says nothing; four times it is full evidence.
  const double minMotion = std::max(32.0, fieldPixels / 2048);
  // Same-parity change that counts as change at all.
  const double repeatScale = std::max(64.0, fieldPixels / 512);
  // Local medians (nine positions) of the motion around each weave and of
  // the same-parity change: the scale that cuts and noisy repeats are read
  // against.
  auto localMedian = [&](auto value) {
    std::vector<double> out(count);
    std::vector<double> window;
    for (int p = 0; p < count; ++p) {
      window.clear();
      for (int q = std::max(0, p - MedianReach); q <= std::min(count - 1, p + MedianReach); ++q)
        if (value(q) >= 0) window.push_back(value(q));
      if (window.empty()) continue;
      std::nth_element(window.begin(), window.begin() + window.size() / 2, window.end());
      out[p] = window[window.size() / 2];
    }
    return out;
  };
  const std::vector<double> typicalMotion = localMedian([&](int q) { return measures[q].motion; });
  const std::vector<double> typicalRepeat = localMedian([&](int q) { return measures[q].repeat; });
  // A weave across a cut: both its same-parity changes far above the usual.
  auto acrossCut = [&](int q) {
    return std::min(measures[q].motionBefore, measures[q].motionAfter) > SceneChange * typicalMotion[q] / 2;
  };

  // How surely fields q and q+2 differ: their change against the usual
  // change here (a repeated field differs by noise only).
  auto changed = [&](int q) {
    const double r = measures[q].repeat;
    if (r < 0) return 0.0;
    return Smooth((r / std::max(typicalRepeat[q], repeatScale) - RepeatLow) / (RepeatHigh - RepeatLow));
  };
  std::vector<double> ratio(count, -1), scales(count, 0);
  for (int p = 0; p < count; ++p) {
    // The scale of the comb: the motion around the weave, but no more than
    // is usual here, so that the change across a neighbouring cut does not
    // make a weave look whole.
    // The first and last positions lack one side; take it as usual, if
    // the other side moves at all (the comb counts moving blocks only).
    const double missing = p == 0 || p == count - 1 ? typicalMotion[p] / 2 : 0;
    if (measures[p].motion < minMotion / 2) continue;
    scales[p] = std::min(measures[p].motion + missing, typicalMotion[p]);
    if (scales[p] >= minMotion) ratio[p] = measures[p].comb / scales[p];
  }
  std::vector<Evidence> evidence(count);
  for (int p = 0; p < count; ++p) {
    if (ratio[p] < 0) continue;
    // Against the neighbouring weaves, which share one field each: in film
    // and progressive footage a whole picture sits beside a combed weave, in
    // video every weave is alike, and every field differs from the fields of
    // its parity before and after it (no repeats). A weave across a cut does
    // not count as a neighbour.
    double alike = 0;
    if (p > 0 && p + 1 < count) {
      double around = -1;
      for (int q : {p - 1, p + 1})
        if (ratio[q] >= 0 && !acrossCut(q)) around = std::max(around, ratio[q]);
      if (around > 0)
        alike = Smooth((ratio[p] / around - AlikeLow) / (AlikeHigh - AlikeLow)) *
                Smooth((ratio[p] - AlikeFloor) / AlikeFloor) * changed(p - 1) * changed(p);
    }
    evidence[p].combed = std::max(Smooth((ratio[p] - RatioLow) / (RatioHigh - RatioLow)), alike);
    evidence[p].weight = std::min(1.0, scales[p] / (4 * minMotion));
  }
  auto pairCost = [&](int p, bool before, bool here) {
    // Fields p-1, p and p+1: measures[p-1].repeat compares p-1 with p+1.
    if (!before && !here) return ChangedRepeatCost * changed(p - 1);
    if (before && here && measures[p - 1].repeat >= 0) {
      const double around = std::max(p >= 2 ? measures[p - 2].repeat : 0.0, measures[p].repeat);
      if (around >= repeatScale && changed(p - 1) == 0) return LoneStillCost;
    }
    return 0.0;
  };

  const std::vector<State> states = BuildStates();
  const int n = static_cast<int>(states.size());
  std::vector<int> predecessor(n), successor(n, -1);  // the states that continue into and from each one
  for (int s = 0; s < n; ++s) {
    if (states[s].cadence < 0) {
      predecessor[s] = -1;
      continue;
    }
    const int base = s - states[s].phase;
    predecessor[s] = base + (states[s].phase + states[s].period - 1) % states[s].period;
    successor[predecessor[s]] = s;
  }
  auto emission = [&](const State& st, int p) {
    const Evidence& e = evidence[p];
    double c = st.boundary ? SplitCost * e.weight * (1 - e.combed) : CombedWeaveCost * e.weight * e.combed;
    if (st.cadence < 0) c += IrregularCost;
    if (keptBoundary(p) >= 0 && keptBoundary(p) != st.boundary) c = infinity;
    return c;
  };

  std::vector<double> cost(n), next(n);
  std::vector<uint8_t> back(static_cast<size_t>(count) * n);
  // The cheapest cost of every state at position p from the costs at p - 1.
  auto advance = [&](int p, const std::vector<double>& cost, std::vector<double>& next) {
    // The cheapest state of each boundary value, for changes of cadence.
    int best[2] = {-1, -1};
    for (int s = 0; s < n; ++s) {
      int& b = best[states[s].boundary];
      if (b < 0 || cost[s] < cost[b]) b = s;
    }
    for (int s = 0; s < n; ++s) {
      const State& st = states[s];
      double bestCost = std::numeric_limits<double>::infinity();
      int from = 0;
      auto consider = [&](int prev, double extra) {
        if (prev < 0) return;
        const double c = cost[prev] + extra + pairCost(p, states[prev].boundary, st.boundary);
        if (c < bestCost) {
          bestCost = c;
          from = prev;
        }
      };
      if (st.cadence >= 0) {
        consider(predecessor[s], 0);
      } else {
        consider(n - 2, 0);
        consider(n - 1, 0);
      }
      consider(best[0], SwitchCost);
      consider(best[1], SwitchCost);
      next[s] = bestCost + emission(st, p);
      back[static_cast<size_t>(p) * n + s] = static_cast<uint8_t>(from);
    }
  };
  std::vector<std::vector<double>> checkpoints;  // the costs at every MarginBlock-th position
  for (int s = 0; s < n; ++s) cost[s] = emission(states[s], 0);
  for (int p = 1; p < count; ++p) {
    if ((p - 1) % MarginBlock == 0) checkpoints.push_back(cost);
    advance(p, cost, next);
    cost.swap(next);
  }
  if ((count - 1) % MarginBlock == 0) checkpoints.push_back(cost);
  int s = static_cast<int>(std::min_element(cost.begin(), cost.end()) - cost.begin());
  std::vector<int> path(count);
  for (int p = count - 1; p >= 0; --p) {
    path[p] = s;
    if (p > 0) s = back[static_cast<size_t>(p) * n + s];
  }

  // Margins: the cheapest whole plan through each state at each position
  // is its forward cost plus its cost to the end (`after`), taken backward.
  std::vector<double> after(n, 0.0), before(n), onward(n);
  std::vector<std::vector<double>> block(MarginBlock, std::vector<double>(n));
  for (int start = (count - 1) / MarginBlock * MarginBlock; start >= 0; start -= MarginBlock) {
    const int end = std::min(count, start + MarginBlock);
    block[0] = checkpoints[start / MarginBlock];
    for (int p = start + 1; p < end; ++p) advance(p, block[p - start - 1], block[p - start]);
    for (int p = end - 1; p >= start; --p) {
      double through[2] = {infinity, infinity};  // by the boundary at p
      for (int s = 0; s < n; ++s)
        through[states[s].boundary] = std::min(through[states[s].boundary], block[p - start][s] + after[s]);
      proposal.positions[p].margin = std::abs(through[1] - through[0]);
      if (p == 0) break;
      // The cost from each state at p - 1 to the end.
      double pair[2][2], cheapest[2] = {infinity, infinity};
      for (int b = 0; b < 4; ++b) pair[b / 2][b % 2] = pairCost(p, b / 2, b % 2);
      for (int s = 0; s < n; ++s) {
        onward[s] = emission(states[s], p) + after[s];
        cheapest[states[s].boundary] = std::min(cheapest[states[s].boundary], onward[s]);
      }
      for (int r = 0; r < n; ++r) {
        const bool b = states[r].boundary;
        double c = SwitchCost + std::min(pair[b][0] + cheapest[0], pair[b][1] + cheapest[1]);
        if (states[r].cadence >= 0) {
          c = std::min(c, pair[b][states[successor[r]].boundary] + onward[successor[r]]);
        } else {
          c = std::min({c, pair[b][0] + onward[n - 2], pair[b][1] + onward[n - 1]});
        }
        before[r] = c;
      }
      after.swap(before);
    }
  }

  for (int p = 0; p < count; ++p) {
    Decision& d = proposal.positions[p];
    const State& st = states[path[p]];
    d.boundary = st.boundary;
    d.cadence = st.cadence;
    d.phase = st.phase;
    d.combed = evidence[p].combed;
    d.evidence = evidence[p].weight;
    d.cadenceBreak = p > 0 && path[p] != path[p - 1] && !(st.cadence < 0 && states[path[p - 1]].cadence < 0) &&
                     predecessor[path[p]] != path[p - 1];
    d.stretch = Stretch::Film;
    if (st.cadence == VideoCadence) d.stretch = Stretch::Video;
    // 2:2 with whole frames at even positions: progressive footage.
    if (st.cadence == ProgressiveCadence && (p % 2 == 1) == st.boundary) d.stretch = Stretch::Progressive;
  }

  // Pictures: runs of fields between boundaries. Fields run from 0 to
  // count (position p joins fields p and p+1).
  int first = 0;
  for (int field = 0; field <= count; ++field) {
    const bool ends = field == count || proposal.positions[field].boundary;
    if (!ends) continue;
    bool shown = false;
    for (int f = first; f <= field; ++f) shown = shown || fieldTaken(f);
    if (shown) {
      // A kept code shows the picture already.
    } else if (field == first) {
      // A lone field: position `field` rebuilds it, if it exists and its
      // code is not kept.
      if (field < count && !keptCode(field)) {
        Decision& d = proposal.positions[field];
        if (d.stretch == Stretch::Video) {
          d.code = '2';
        } else {
          d.code = field % 2 == 0 ? '5' : '4';
          d.orphan = true;
        }
      } else if (field == count) {
        proposal.lastFieldLeftOut = true;
      }
    } else {
      // Positions first .. field-1 all show the picture; take the least
      // combed, an even one (the frame itself, no weave) unless an odd one
      // is clearly better.
      int pick = -1;
      double pickScore = std::numeric_limits<double>::infinity();
      for (int p = first; p < field; ++p) {
        if (keptCode(p)) continue;
        const double score = evidence[p].combed * evidence[p].weight + (p % 2 ? 0.05 : 0.0);
        if (pick < 0 || score < pickScore) {
          pickScore = score;
          pick = p;
        }
      }
      if (pick >= 0) proposal.positions[pick].code = '1';
    }
    first = field + 1;
  }
  for (int p = 0; p < count; ++p)
    if (keptCode(p)) {
      proposal.positions[p].code = keptCode(p);
      proposal.positions[p].kept = true;
      proposal.positions[p].orphan = false;
    }
  return proposal;
}

PlanSummary Summarize(const Proposal& proposal) {
  PlanSummary s;
  s.positions = static_cast<int>(proposal.positions.size());
  for (int p = 0; p < s.positions; ++p) {
    const Decision& d = proposal.positions[p];
    switch (d.stretch) {
      case Stretch::Film: ++s.filmPositions; break;
      case Stretch::Progressive: ++s.progressivePositions; break;
      case Stretch::Video: ++s.videoPositions; break;
    }
    if (d.code == '1') ++(d.stretch == Stretch::Progressive ? s.progressiveFrames : s.filmFrames);
    if (d.code == '2') ++s.videoFields;
    if (d.orphan) ++s.orphans;
    if (d.code != '0') ++s.outputFrames;
    if (d.cadenceBreak) s.breakFrames.push_back(p / 2);
  }
  return s;
}

}  // namespace analysis
