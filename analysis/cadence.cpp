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

// Costs, in units of one field fully judged. A field joined to the wrong
// neighbour costs more than leaving a cadence and coming back to it, so that
// no cadence is kept across a weave of two pictures.
constexpr double MatchCost = 10;          // a field joined against its pairing (or alone against it)
constexpr double ChangedRepeatCost = 20;  // three fields in one picture whose outer two differ
constexpr double DoubtCost = 2;           // a field joined with no pairing for it
constexpr double LoneDoubtCost = 4;       // a field alone though it and a neighbour lean to each other
constexpr double RepeatSplitCost = 20;    // a telecine repeat not kept in one picture
constexpr double LoneStillCost = 3;       // a lone field between two fields that repeat each other
constexpr double EdgeLoneCost = 3;        // the clip's first or last field alone
constexpr double StillVideoCost = 1;      // a position of video that shows no motion
// A change of cadence or phase: CutSwitchCost, SwitchCost (cadence.h).
constexpr double IrregularCost = 4;  // each position followed without a cadence

// Pairing (field q's weave with q+1 less its weave with q-1) against the
// change between q-1 and q+1: a film field beside its partner gives about
// 3 to 8, a video field about 0.
constexpr double PairingFull = 2.5;
// A pair of fields that both lean to each other this firmly is one picture
// (a lone field then costs); video fields lean by chance up to about 3.
constexpr double FirmLow = 1.5;
constexpr double FirmHigh = 4;
// The pairing's noise against the noise energy of a sample and the root of
// the samples: motion below PairingNoise times that says little.
constexpr double PairingNoise = 8;
constexpr int MedianReach = 4;
// The same-parity change against the change of a repeated field after a
// lossy encode: below CodingLow the pairing says nothing, above CodingHigh
// it says all it can. FloorReach: positions either way where the repeats
// are looked for.
constexpr double CodingLow = 2;
constexpr double CodingHigh = 8;
constexpr int FloorReach = 8;
constexpr double HeldHigh = 16;
// Both sides of a weave changing this many times more than usual, and its
// weave combing over CutComb of the blocks with detail of their own: a cut.
// (After an encode a held drawing giving way to the next can change as much
// as a cut, but the blocks it leaves alone do not comb.)
constexpr double SceneChange = 8;
constexpr double CutComb = 0.8;
// A shot moving LevelStep times faster than the one beside it (the median
// motion over LevelReach positions either side): a change of level.
constexpr double LevelStep = 8;
constexpr int LevelReach = 8;
// A change below StillLow of the stretch's motion is none, above StillHigh
// a change in full; StretchReach: positions either way of the stretch.
constexpr double StillLow = 0.003;
constexpr double StillHigh = 0.015;
constexpr int StretchReach = 32;
constexpr double StretchQuantile = 0.9;
// The share of the frame's blocks a cut changes.
constexpr double CutShare = 0.6;
// Positions from a cut on where the cadence may change at the cut's price
// (the shot after it may begin its cadence a field or two late); the shot
// before it keeps its cadence to its last field, as an edit in film cuts a
// picture short but leaves the pictures before it whole.
constexpr int CutReach = 2;
// Change between fields of one parity two apart, against the usual change:
// below RepeatLow a repeated field, above RepeatHigh a new moment.
constexpr double RepeatLow = 0.15;
constexpr double RepeatHigh = 0.4;
// The repeat share (PositionMeasures::repeatShare) against the least share
// around, where that stands out (below ShareStandOut of the median): up to
// ShareLow times it a repeat, from ShareHigh times on a change. A share is
// read where the change around stands ShareNoise times out of the noise
// and is ShareMotion of the stretch's motion at least, and away from cuts;
// ShareFloor is the least floor (a clean clip's repeats share nothing).
constexpr double ShareStandOut = 0.75;
constexpr double ShareLow = 1.3;
constexpr double ShareHigh = 2.5;
constexpr double ShareNoise = 2;
constexpr double ShareMotion = 0.2;
constexpr double ShareFloor = 0.02;
// Telecine repeats come every 5 positions in 3:2: the mean share of each
// phase of 5 over PhaseReach positions either way, when the least stands
// out (below PhaseStandOut of the next) and every share of its phase stays
// below PhaseTop of that next mean (so that a stretch of video or
// progressive frames beside film, whose shares are alike at every phase,
// is not read as film), marks the repeats: pooled over a few cycles, they
// stand out where each alone does not (a near-still grainy shot after an
// encode). A phase read so holds on in its shot while it stays the least
// and its shares stay below PhaseHeldTop of the next mean.
constexpr int PhaseReach = 25;
constexpr double PhaseStandOut = 0.85;
constexpr double PhaseTop = 0.9;
constexpr double PhaseHeldTop = 0.95;
// A phase whose shares (their upper quartile) stand this far below the
// next phase's mean vouches for the positions of its phase too weak to
// read their own share; at a shot's start the window grows into the shot,
// up to PhaseGrowth positions, until a phase reads.
constexpr double PhaseSure = 0.25;
constexpr int PhaseGrowth = 4 * PhaseReach;
// A telecine repeat found by its phase outweighs a few fields whose
// pairings lean the other way: after an encode that coded the telecined
// frames as they are, the fields of each coded frame pair with each other,
// the film's pictures or not.
constexpr double PhaseRepeatWeight = 3;
// Positions either way whose shares vouch for a position too weak to read
// its own.
constexpr int KnownReach = 10;
// How far a field's two weaves stand apart (the pairing against their sum):
// below LeanLow the pairing shows no direction (an encode's shared errors
// make both weaves alike), above LeanHigh a clear one.
constexpr double LeanLow = 0.15;
constexpr double LeanHigh = 0.4;
// Where the usual position of a picture of three fields won by less than
// PickDoubt, another whose decision is surer by more than PickMargin is
// taken. Twice the review page's doubt: held drawings after x264 need the
// surer join below about 12; a clean DVD's film joins win by far more and
// must keep the usual position for their times (they do with a limit of up
// to 40 at least, and not with 100).
constexpr double PickDoubt = 2 * DoubtfulMargin;
constexpr double PickMargin = 0.5;
// At a shot's edges, where the frame coded across the cut blurs the
// pairings, held pictures settle the fields the search leaves in doubt: a
// change below EdgeHeld of the stretch's motion is the encode's alone
// (see SettleShotEdges).
constexpr double EdgeHeld = 2 * StillHigh;
// The two fields of one frame of the stream whose pairings both refuse
// their join (each at least MutualRefusal), though an encode's errors
// shared within the frame pull them together, and whose weave combs over
// MutualComb times the motion around it are two pictures, whatever the
// cadence says: an edit that cut both short. The first is rebuilt alone
// rather than woven combed. (Across two frames of the stream, after an
// encode that coded telecined frames as progressive ones, the fields of
// one picture refuse each other so and their weave combs with the errors.)
constexpr double MutualRefusal = 0.9;
constexpr double MutualComb = 2;
// The shot before a cut keeps its cadence to its last field (an edit cuts
// a picture short but leaves the pictures before it whole): a change of
// cadence or phase in the PreCutReach positions before a cut costs
// PreCutSwitch times SwitchCost. After an encode that coded the telecined
// frames as they are, the last fields before a cut, whose repeats are not
// read beside it, pair by the coded frames, and would otherwise end the
// cadence a picture early and weave the stream's frame of two pictures.
constexpr int PreCutReach = 6;
constexpr double PreCutSwitch = 2;
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

// The middle value (the upper of the two middle ones); reorders `values`,
// which must not be empty.
double Median(std::vector<double>& values) {
  const auto middle = values.begin() + values.size() / 2;
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

double Smooth(double x) {
  x = std::min(1.0, std::max(0.0, x));
  return x * x * (3 - 2 * x);
}

struct Evidence {
  double combed = 0;   // 0..1
  double weight = 0;   // 0..1
  double refused = 0;  // how firmly both fields refuse the join: 0..1
};

// Two patterns at a shot's edges where the search, its pairings blurred
// by the frame coded across the cut, leaves a field alone that belongs to
// a held picture beside it (`movable[p]`: position p's boundary may
// change). Before a cut: three fields of one picture and a lone last field
// that changes from the field two before it no more than the picture's own
// repeat does (CodingHigh times at most) are one held picture shown twice,
// the edit cutting the second showing short: two pictures of two fields,
// each woven, not one and a field rebuilt. At a shot's start: a lone first
// field that repeats the field two on (its change below RepeatLow of the
// next one) begins a picture of three fields: a rebuilt field there would
// show that picture twice.
void SettleShotEdges(std::vector<Decision>& positions, const std::vector<PositionMeasures>& measures,
                     const std::vector<char>& cut, const std::vector<double>& stretchMotion,
                     const std::vector<char>& movable) {
  const int count = static_cast<int>(positions.size());
  auto held = [&](int q) { return measures[q].repeat >= 0 && measures[q].repeat < EdgeHeld * stretchMotion[q]; };
  auto boundary = [&](int p) { return p < 0 || positions[p].boundary; };
  for (int f = 3; f < count; ++f) {
    if (!cut[f] || !boundary(f - 1) || boundary(f - 2) || boundary(f - 3) || !boundary(f - 4)) continue;
    if (!movable[f - 2] || !movable[f - 1] || !held(f - 2) || measures[f - 3].repeat < 0 ||
        measures[f - 2].repeat > CodingHigh * measures[f - 3].repeat)
      continue;
    positions[f - 2].boundary = true;
    positions[f - 1].boundary = false;
  }
  for (int f = 0; f + 2 < count; ++f) {
    if (!(f == 0 || cut[f - 1]) || !boundary(f - 1) || !boundary(f) || boundary(f + 1) || !boundary(f + 2)) continue;
    if (movable[f] && held(f) && measures[f + 1].repeat >= 0 && measures[f].repeat < RepeatLow * measures[f + 1].repeat)
      positions[f].boundary = false;
  }
}

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

Proposal ProposePlan(const std::vector<PositionMeasures>& measures, double fieldSamples,
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

  // Motion below this says nothing.
  const double minMotion = std::max(1000.0, fieldSamples / 16);
  // Same-parity change that counts as change at all.
  const double repeatScale = std::max(4000.0, 4 * fieldSamples);
  // Positions shotStart[p] .. shotEnd[p] are p's shot (the whole clip
  // until the cuts are known).
  std::vector<int> shotStart(count, 0), shotEnd(count, count - 1);
  // The `fraction` quantile of a measure over the positions `reach` either
  // way within the shot (its valid values, those not below 0).
  auto localQuantile = [&](auto value, int reach, double fraction) {
    std::vector<double> out(count);
    std::vector<double> window;
    for (int p = 0; p < count; ++p) {
      window.clear();
      for (int q = std::max(shotStart[p], p - reach); q <= std::min(shotEnd[p], p + reach); ++q)
        if (value(q) >= 0) window.push_back(value(q));
      if (window.empty()) continue;
      const auto at = window.begin() + static_cast<size_t>(window.size() * fraction);
      std::nth_element(window.begin(), at, window.end());
      out[p] = *at;
    }
    return out;
  };
  // Local medians (nine positions) of the same-parity change: the scale
  // that repeats are read against.
  auto localMedian = [&](auto value) { return localQuantile(value, MedianReach, 0.5); };
  const std::vector<double> typicalRepeat = localMedian([&](int q) { return measures[q].repeat; });

  // The change of a field repeated by telecine, where repeats stand out of
  // the changes around them: the least change over a stretch of a few
  // telecine cycles, when it is well below the usual change.
  std::vector<double> codingFloor(count, 0);
  // The least change there, whether or not it stands out.
  std::vector<double> leastChange(count, 0);
  {
    std::vector<double> window;
    for (int p = 0; p < count; ++p) {
      window.clear();
      for (int q = std::max(0, p - FloorReach); q <= std::min(count - 1, p + FloorReach); ++q)
        if (measures[q].repeat >= 0) window.push_back(measures[q].repeat);
      if (window.size() < 5) continue;
      std::sort(window.begin(), window.end());
      leastChange[p] = window.front();
      if (window.front() < RepeatHigh * window[window.size() / 2]) codingFloor[p] = window.front();
    }
  }
  // A weave across a cut: both its same-parity changes far above the usual,
  // over most of the frame (a held drawing giving way to the next changes
  // far more than the held frames around it, but not everywhere).
  const std::vector<double> typicalMotion = localMedian([&](int q) { return measures[q].motion; });
  // Against `typical`, the usual change there: the weave's change far
  // above it, and the frame changing and combing nearly everywhere.
  auto cutBy = [&](int p, double typical) {
    const double least = std::min(measures[p].motionBefore, measures[p].motionAfter);
    return least > minMotion && least > SceneChange * std::max(typical / 2, measures[p].repeatNoise) &&
           measures[p].movingBlocks >= CutShare * measures[p].blocks &&
           measures[p].combBlocks >= CutComb * measures[p].activeBlocks;
  };
  std::vector<char> cut(count);
  for (int p = 0; p < count; ++p) cut[p] = cutBy(p, typicalMotion[p]);
  auto acrossCut = [&](int p) { return p >= 0 && p < count && cut[p]; };
  // A same-parity change that reaches across a cut.
  auto nearCut = [&](int q) { return acrossCut(q - 1) || acrossCut(q) || acrossCut(q + 1) || acrossCut(q + 2); };
  // Where a fast shot meets a slow one, the change across the cut is small
  // beside the fast shot's motion, which the local median takes in; against
  // the slow shot's motion (the median on its side) it is a cut all the
  // same. The two shots' stretches end there, else the slow shot's changes
  // would read as still beside the fast one's. (Only their stretches: a pan
  // that starts or stops at once reads so too, and its cadence goes on.)
  std::vector<double> side;
  auto sideMotion = [&](int from, int to) {
    side.clear();
    for (int q = std::max(0, from); q <= std::min(count - 1, to); ++q) side.push_back(measures[q].motion);
    return side.empty() ? 0.0 : Median(side);
  };
  auto levelChange = [&](int p) {
    const double before = sideMotion(p - LevelReach, p - 1), after = sideMotion(p + 1, p + LevelReach);
    const double slow = std::min(before, after), fast = std::max(before, after);
    return fast > LevelStep * std::max(slow, minMotion) &&
           std::min(measures[p].motionBefore, measures[p].motionAfter) > fast / 2 && cutBy(p, slow);
  };
  for (int p = 0, start = 0; p < count; ++p) {
    shotStart[p] = start;
    if (acrossCut(p) || levelChange(p)) start = p + 1;
  }
  for (int p = count - 1, end = count - 1; p >= 0; --p) {
    if (p + 1 < count && shotStart[p + 1] == p + 1) end = p;
    shotEnd[p] = end;
  }
  // The motion of a stretch: the same-parity change that a tenth of the
  // positions of its shot over a few seconds of fields exceed (drawings
  // held on threes change at one position in seven or eight). Neither a
  // faster shot beside it nor the change across the cut counts, which
  // would make a slow shot look still.
  const std::vector<double> stretchMotion =
      localQuantile([&](int q) { return acrossCut(q) || acrossCut(q + 1) ? -1.0 : measures[q].repeat; }, StretchReach,
                    StretchQuantile);
  // How surely fields q and q+2 differ: their change against the usual
  // change here, read from that floor up (a repeated field differs by noise
  // only, and after a lossy encode by what the encode did to it).
  auto overFloor = [&](int q) {
    const double floor = codingFloor[q];
    return (measures[q].repeat - floor) / std::max(std::max(typicalRepeat[q], repeatScale) - floor, 1.0);
  };
  // A change that is nothing beside the motion of the stretch and no more
  // than the least change around it: a held drawing's fields, which differ
  // only by what an encode did to each, as a repeated field does. (A slow
  // pan under held drawings changes them too, but stands well above the
  // exact repeats of a clean clip.)
  auto still = [&](int q) {
    const double r = measures[q].repeat;
    if (r < 0 || stretchMotion[q] <= 0 || leastChange[q] <= 0) return 0.0;
    return (1 - Smooth((r / stretchMotion[q] - StillLow) / (StillHigh - StillLow))) *
           (1 - Smooth((r / leastChange[q] - CodingLow) / (HeldHigh - CodingLow)));
  };

  // After a lossy encode a repeated field differs from its original by the
  // encode's errors, spread over the frame, and a near-still or grainy
  // shot's fields differ little more, so `repeat` hardly tells them apart;
  // block by block, the share of the change around that a position's own
  // change shows still does. Where shares are read and the least stands
  // out, a share near that least one is a repeat whatever `repeat` says.
  std::vector<bool> shareRead(count, false);
  for (int q = 0; q < count; ++q) {
    shareRead[q] = measures[q].repeatShare >= 0 && !nearCut(q) &&
                   measures[q].repeatShareMass > ShareNoise * measures[q].repeatNoise &&
                   measures[q].repeatShareMass > ShareMotion * stretchMotion[q];
  }
  std::vector<double> shareFloor(count, 0);
  {
    std::vector<double> window;
    for (int q = 0; q < count; ++q) {
      window.clear();
      for (int j = std::max(0, q - FloorReach); j <= std::min(count - 1, q + FloorReach); ++j)
        if (shareRead[j]) window.push_back(measures[j].repeatShare);
      if (window.size() < 3) continue;
      std::sort(window.begin(), window.end());
      if (window.front() < ShareStandOut * window[window.size() / 2]) shareFloor[q] = window.front();
    }
  }
  // Taken once per position, as the search reads them for every position
  // twice: how surely fields q and q+2 differ (`differs`), and do beyond a
  // held drawing's encode errors (`changed`); how surely field q+2 repeats
  // field q as telecine repeats a field (`repeated`): alone
  // among changes, the fields two positions either way changing, as they do
  // in 3:2 and 2:3:3:2. Where most fields repeat (a still, drawings held on
  // twos) a repeat says nothing of the cadence.
  // The phase of 5 whose read shares over positions from .. to stand out
  // below the others' (-1 where too few are read or none does), the next
  // phase's mean, and the upper quartile of that phase's shares (at most
  // the largest but one): a few repeats coded badly do not undo the
  // stretch's, a stretch half video does.
  struct PhaseRead {
    int low = -1;
    double next = 0, top = 0;
  };
  std::vector<double> lowShares;
  auto readPhase = [&](int from, int to) {
    PhaseRead r;
    double sum[5] = {0, 0, 0, 0, 0};
    int n[5] = {0, 0, 0, 0, 0};
    for (int j = from; j <= to; ++j)
      if (shareRead[j]) {
        sum[j % 5] += measures[j].repeatShare;
        ++n[j % 5];
      }
    if (*std::min_element(n, n + 5) < 2) return r;
    double mean[5];
    for (int f = 0; f < 5; ++f) mean[f] = sum[f] / n[f];
    const int low = static_cast<int>(std::min_element(mean, mean + 5) - mean);
    r.next = std::numeric_limits<double>::infinity();
    for (int f = 0; f < 5; ++f)
      if (f != low) r.next = std::min(r.next, mean[f]);
    if (mean[low] >= PhaseStandOut * r.next) return r;
    r.low = low;
    lowShares.clear();
    for (int j = from; j <= to; ++j)
      if (shareRead[j] && j % 5 == low) lowShares.push_back(measures[j].repeatShare);
    const auto top = lowShares.begin() + std::min(lowShares.size() - 2, lowShares.size() * 3 / 4);
    std::nth_element(lowShares.begin(), top, lowShares.end());
    r.top = *top;
    return r;
  };
  // The phase marks every position of the stretch whose change is known,
  // its share read or not (a repeat's own share can drown in the noise
  // where the fields around hardly change, and is not known at the clip's
  // end), except beside a cut, where the cadence may change, and a change
  // among the largest of its stretch, which no repeat is (an edit the cut
  // measure missed). The phase is read within the shot, as the cadence
  // breaks at a cut, over as many positions near the shot's ends.
  // -1: a repeat by its phase; 1: another phase of such a stretch; 0: not known.
  std::vector<int> repeatPhase(count, 0);
  std::vector<double> mine, others;   // known shares of q's phase and of the others
  int heldPhase = -1, heldShot = -1;  // the phase last read, and the start of its shot
  for (int q = 0; q < count; ++q) {
    if (measures[q].repeat < 0 || nearCut(q)) continue;
    const int to = std::min(shotEnd[q], std::max(q, shotStart[q] + PhaseReach) + PhaseReach);
    const int from = std::max(shotStart[q], to - 2 * PhaseReach);
    PhaseRead r = readPhase(from, to);
    // (A near-still shot's first fields after an encode can show too
    // little for a read: the encoder smoothed their grain away.)
    for (int grow = to; r.low < 0 && from == shotStart[q] && grow < std::min(shotEnd[q], from + PhaseGrowth);) {
      grow = std::min({shotEnd[q], from + PhaseGrowth, grow + 5});
      r = readPhase(from, grow);
    }
    const bool held = r.low == heldPhase && shotStart[q] == heldShot;
    if (r.low < 0 || r.top >= (held ? PhaseHeldTop : PhaseTop) * r.next) continue;
    heldPhase = r.low;
    heldShot = shotStart[q];
    // Where q's own share is too weak to be read, the known shares of its
    // phase around it, read or not, must stand out below those of the
    // other phases as well: video beside film, whose shares drown in its
    // grain, would otherwise take the film's repeats. A phase read surely
    // over its window needs no more.
    if (!shareRead[q] && q % 5 == r.low && r.top >= PhaseSure * r.next) {
      mine.clear();
      others.clear();
      for (int j = std::max(0, q - KnownReach); j <= std::min(count - 1, q + KnownReach); ++j)
        if (measures[j].repeatShare >= 0 && !nearCut(j))
          (j % 5 == r.low ? mine : others).push_back(measures[j].repeatShare);
      if (others.empty() || Median(mine) >= PhaseStandOut * Median(others)) continue;
    }
    repeatPhase[q] = q % 5 != r.low ? 1 : measures[q].repeat > stretchMotion[q] ? 0 : -1;
  }
  std::vector<double> differs(count, 0), changed(count, 0), repeated(count, 0);
  for (int q = 0; q < count; ++q) {
    if (measures[q].repeat < 0) continue;
    differs[q] = Smooth((overFloor(q) - RepeatLow) / (RepeatHigh - RepeatLow));
    changed[q] = differs[q] * (1 - still(q));
    // A repeat by its phase repeats; another phase of such a stretch
    // changes as `repeat` says (its share, beside a repeat's, would read as
    // a repeat too).
    if (repeatPhase[q] < 0) {
      differs[q] = changed[q] = 0;
    } else if (shareRead[q] && repeatPhase[q] == 0) {
      const double r = measures[q].repeatShare / std::max(shareFloor[q], ShareFloor);
      const double apart = Smooth((r - ShareLow) / (ShareHigh - ShareLow));
      differs[q] = std::min(differs[q], apart);
      changed[q] = std::min(changed[q], apart);
    }
  }
  for (int q = 0; q < count; ++q) {
    if (measures[q].repeat < 0 || typicalRepeat[q] < repeatScale) continue;
    double alone = 1 - differs[q];
    for (int j : {q - 2, q - 1, q + 1, q + 2})
      if (j >= 0 && j < count && measures[j].repeat >= 0) alone *= changed[j];
    repeated[q] = alone;
  }

  // Field q between its neighbours: which one it belongs with, from the
  // pairing measure (its two weaves compared), and how much that says. The
  // evidence grows with the pairing up to PairingFull, so that weak but
  // steady pairings add up over a stretch.
  std::vector<double> back(count, 0), forward(count, 0), weight(count, 0), lean(count, 1);
  // The same, firmly: what it takes to call a field alone wrong.
  std::vector<double> firmBack(count, 0), firmForward(count, 0);
  for (int q = 1; q < count; ++q) {
    const PositionMeasures& m = measures[q];
    if (m.pairingMotion <= 0) continue;
    const double ratio = m.pairing / m.pairingMotion;
    back[q] = std::min(1.0, std::max(0.0, ratio / PairingFull));
    forward[q] = std::min(1.0, std::max(0.0, -ratio / PairingFull));
    firmBack[q] = Smooth((ratio - FirmLow) / (FirmHigh - FirmLow));
    firmForward[q] = Smooth((-ratio - FirmLow) / (FirmHigh - FirmLow));
    // The pairing of grainy fields is noisy in proportion to the noise
    // energy and the root of the samples it sums.
    const double noise = m.repeatNoise / (2 * std::max(1.0, fieldSamples));
    const double needed = std::max(minMotion, PairingNoise * noise * std::sqrt(fieldSamples));
    weight[q] = std::min(1.0, m.pairingMotion / (4 * needed));
    // How far the two weaves stand apart: the direction's share of the
    // evidence. (After an encode that coded both fields of a frame alike,
    // a pairing can stand out of the noise and still show no side.)
    if (m.pairingWeaves > 0)
      lean[q] = Smooth((std::fabs(m.pairing) / m.pairingWeaves - LeanLow) / (LeanHigh - LeanLow));
    // After a lossy encode the two fields of one coded frame share its
    // errors, and pairings lean towards them; telecine repeats show how far
    // the encode alone moves a field (the same field coded twice). A change
    // between fields q-1 and q+1 not well above that says little.
    if (codingFloor[q] > 0 && measures[q - 1].repeat >= 0)
      weight[q] *= Smooth((measures[q - 1].repeat / codingFloor[q] - CodingLow) / (CodingHigh - CodingLow));
    // Nor does a change that is nothing beside the motion of the stretch:
    // a held drawing's fields differ by what the encode did, not by motion.
    if (measures[q - 1].repeat >= 0 && stretchMotion[q] > 0)
      weight[q] *= Smooth((measures[q - 1].repeat / stretchMotion[q] - StillLow) / (StillHigh - StillLow));
  }
  std::vector<double> dir(count);
  for (int q = 0; q < count; ++q) dir[q] = weight[q] * lean[q];
  // What speaks against joining field q with q-1 or with q+1: a pairing
  // the other way, and a cut in between, which no picture spans.
  std::vector<double> refuseBack = forward, refuseForward = back;
  std::vector<double> refuseBackWeight = dir, refuseForwardWeight = dir;
  // Beside a cut one of a field's two weaves spans the cut and combs more
  // than anything, so the field's own pairing says only that it is not the
  // other shot's; whether it belongs with its neighbour on this side is
  // what that neighbour's pairing says, firmly: an edit leaves a field alone
  // as often as not. When in doubt there, the field is left alone: a field
  // joined across from a cut with nothing for it costs the doubt in full
  // (the worst of a lone field rebuilt is a duplicate, of a wrong join a
  // combed frame).
  std::vector<double> doubt = weight;
  {
    const std::vector<double> fb = firmBack, ff = firmForward, w = weight, dw = dir;
    for (int q = 1; q < count; ++q) {
      if (acrossCut(q)) {
        forward[q] = firmForward[q] = 0;
        back[q] = firmBack[q] = ff[q - 1];
        weight[q] = w[q - 1];
        dir[q] = refuseBackWeight[q] = dw[q - 1];
        refuseBack[q] = 0;
        refuseForward[q] = refuseForwardWeight[q] = doubt[q] = 1;
      } else if (acrossCut(q - 1)) {
        back[q] = firmBack[q] = 0;
        forward[q] = firmForward[q] = q + 1 < count ? fb[q + 1] : 0;
        weight[q] = q + 1 < count ? w[q + 1] : 0;
        dir[q] = refuseForwardWeight[q] = q + 1 < count ? dw[q + 1] : 0;
        refuseForward[q] = 0;
        refuseBack[q] = refuseBackWeight[q] = doubt[q] = 1;
      }
    }
  }
  // The cost of the boundaries before and after field q (at positions q-1
  // and q): joined on both sides, it is the middle of three fields of one
  // picture, whose outer two must be alike; a boundary after it only, it
  // belongs with field q-1; before it only, with field q+1; both, it is a
  // picture of its own (video, or a field an edit left alone), which fits
  // only if it belongs with neither neighbour, or that neighbour belongs
  // with its other side. A telecine repeat around field q asks for it to
  // be joined on both sides.
  auto pairCost = [&](int q, bool before, bool here) {
    double c = 0;
    if (!before && !here) {
      c = ChangedRepeatCost * changed[q - 1];
    } else {
      c = RepeatSplitCost * repeated[q - 1] * (repeatPhase[q - 1] < 0 ? PhaseRepeatWeight : 1);
      // Against the pairing in full; for want of it (a field as far from
      // both neighbours, as video fields are, or film moving by about one
      // row a frame) a little.
      const double neither = doubt[q] * std::max(0.0, 1 - back[q] - forward[q]);
      if (!before && here)
        c += MatchCost * refuseBackWeight[q] * refuseBack[q] + DoubtCost * (neither + dir[q] * forward[q]);
      if (before && !here)
        c += MatchCost * refuseForwardWeight[q] * refuseForward[q] + DoubtCost * (neither + dir[q] * back[q]);
      if (before && here) {
        // Alone against a pairing both fields agree on: field q with q-1,
        // or with q+1 (a neighbour with nothing to say, the middle of three
        // fields of one picture, does not object). One field leaning alone
        // does not make a pair.
        auto agrees = [&](double l, int r) { return dir[r] * l + (1 - dir[r]); };
        const double firm = std::max(firmBack[q] * agrees(firmForward[q - 1], q - 1),
                                     q + 1 < count ? firmForward[q] * agrees(firmBack[q + 1], q + 1) : 0.0);
        const double mutual = std::max(back[q] * agrees(forward[q - 1], q - 1),
                                       q + 1 < count ? forward[q] * agrees(back[q + 1], q + 1) : 0.0);
        c += dir[q] * (MatchCost * firm + LoneDoubtCost * mutual);
        if (measures[q - 1].repeat >= 0) {
          const double around = std::max(q >= 2 ? measures[q - 2].repeat : 0.0, measures[q].repeat);
          if (around >= repeatScale && changed[q - 1] == 0) c += LoneStillCost;
        }
      }
    }
    return c;
  };
  // For the report: how much the pairings of fields p and p+1 speak
  // against joining them, and how much they say at all.
  std::vector<Evidence> evidence(count);
  for (int p = 0; p < count; ++p) {
    evidence[p].combed = refuseForwardWeight[p] * refuseForward[p];
    evidence[p].weight = weight[p];
    if (p + 1 < count) {
      evidence[p].combed = std::max(evidence[p].combed, refuseBackWeight[p + 1] * refuseBack[p + 1]);
      evidence[p].weight = std::max(evidence[p].weight, weight[p + 1]);
      evidence[p].refused =
          std::min(refuseForwardWeight[p] * refuseForward[p], refuseBackWeight[p + 1] * refuseBack[p + 1]);
    }
  }

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
  // Video where nothing moves costs a little: its fields are rebuilt one by
  // one where whole frames would show the same.
  auto emission = [&](const State& st, int p) {
    if (keptBoundary(p) >= 0 && keptBoundary(p) != st.boundary) return infinity;
    if (st.cadence < 0) return IrregularCost;
    return st.cadence == VideoCadence ? StillVideoCost * (1 - evidence[p].weight) : 0.0;
  };

  std::vector<double> switchCost(count, SwitchCost);
  for (int q = 0; q < count; ++q)
    if (acrossCut(q))
      for (int p = q; p <= std::min(count - 1, q + CutReach); ++p) switchCost[p] = CutSwitchCost;
  for (int q = 0; q < count; ++q)
    if (acrossCut(q))
      for (int p = std::max(0, q - PreCutReach); p < q; ++p)
        if (switchCost[p] == SwitchCost) switchCost[p] = PreCutSwitch * SwitchCost;
  std::vector<double> cost(n), next(n);
  std::vector<uint8_t> from(static_cast<size_t>(count) * n);
  // The cost of the boundaries at p - 1 and p, by their values: the four
  // pairCost values of a position, taken once for all its states.
  auto pairCosts = [&](int p, double pair[2][2]) {
    for (int b = 0; b < 4; ++b) pair[b / 2][b % 2] = pairCost(p, b / 2, b % 2);
  };
  // The cheapest cost of every state at position p from the costs at p - 1.
  auto advance = [&](int p, const std::vector<double>& cost, std::vector<double>& next) {
    double pair[2][2];
    pairCosts(p, pair);
    // The cheapest state of each boundary value, for changes of cadence.
    int best[2] = {-1, -1};
    for (int s = 0; s < n; ++s) {
      int& b = best[states[s].boundary];
      if (b < 0 || cost[s] < cost[b]) b = s;
    }
    for (int s = 0; s < n; ++s) {
      const State& st = states[s];
      double bestCost = infinity;
      int bestFrom = 0;
      auto consider = [&](int prev, double extra) {
        if (prev < 0) return;
        const double c = cost[prev] + extra + pair[states[prev].boundary][st.boundary];
        if (c < bestCost) {
          bestCost = c;
          bestFrom = prev;
        }
      };
      if (st.cadence >= 0) {
        consider(predecessor[s], 0);
      } else {
        consider(n - 2, 0);
        consider(n - 1, 0);
      }
      consider(best[0], switchCost[p]);
      consider(best[1], switchCost[p]);
      next[s] = bestCost + emission(st, p);
      from[static_cast<size_t>(p) * n + s] = static_cast<uint8_t>(bestFrom);
    }
  };
  // The clip's first field alone (its partner before the clip) has no
  // pairing of its own to show it; a little cost keeps it with its
  // neighbour where nothing says otherwise.
  for (int s = 0; s < n; ++s) cost[s] = emission(states[s], 0) + (states[s].boundary ? EdgeLoneCost : 0);
  std::vector<std::vector<double>> checkpoints;  // the costs at every MarginBlock-th position
  for (int p = 1; p < count; ++p) {
    if ((p - 1) % MarginBlock == 0) checkpoints.push_back(cost);
    advance(p, cost, next);
    cost.swap(next);
  }
  if ((count - 1) % MarginBlock == 0) checkpoints.push_back(cost);
  // The clip's last field alone costs as the first one does: it has no
  // position of its own to rebuild it and is left out.
  std::vector<double> endCost(n);
  for (int s = 0; s < n; ++s) {
    endCost[s] = states[s].boundary ? EdgeLoneCost : 0;
    cost[s] += endCost[s];
  }
  int s = static_cast<int>(std::min_element(cost.begin(), cost.end()) - cost.begin());
  std::vector<int> path(count);
  for (int p = count - 1; p >= 0; --p) {
    path[p] = s;
    if (p > 0) s = from[static_cast<size_t>(p) * n + s];
  }

  // Margins: the cheapest whole plan through each state at each position
  // is its forward cost plus its cost to the end (`after`), taken backward.
  std::vector<double> after = endCost, before(n), onward(n);
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
      pairCosts(p, pair);
      for (int s = 0; s < n; ++s) {
        onward[s] = emission(states[s], p) + after[s];
        cheapest[states[s].boundary] = std::min(cheapest[states[s].boundary], onward[s]);
      }
      for (int r = 0; r < n; ++r) {
        const bool b = states[r].boundary;
        double c = switchCost[p] + std::min(pair[b][0] + cheapest[0], pair[b][1] + cheapest[1]);
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

  {
    std::vector<char> movable(count);
    for (int p = 0; p < count; ++p) movable[p] = keptBoundary(p) < 0 && !keptCode(p);
    SettleShotEdges(proposal.positions, measures, cut, stretchMotion, movable);
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
        // Where a new stretch starts at its position, the field is the last
        // of the stretch before (position field joins it to the first field
        // of the new one): the last field of video before a cut is a video
        // field, not a film field an edit left alone.
        const Stretch own = field > 0 && d.cadenceBreak ? proposal.positions[field - 1].stretch : d.stretch;
        if (own == Stretch::Video) {
          d.code = '2';
        } else {
          d.code = field % 2 == 0 ? '5' : '4';
          d.orphan = true;
        }
      } else if (field == count) {
        proposal.lastFieldLeftOut = true;
      }
    } else {
      // Positions first .. field-1 all show the picture: the frame itself
      // (an even position, both fields as one coded frame) where it is one
      // of them, else the weave; never a position whose code is kept. Where
      // the search doubts that join, the surest of the others if it is
      // clearly surer, so that where one join of three fields is in doubt
      // the other is woven. Sure decisions keep the frame itself, whose
      // time sits on the film's line.
      int pick = -1;
      for (int p = first; p < field; ++p)
        if (!keptCode(p) && (pick < 0 || (pick % 2 == 1 && p % 2 == 0))) pick = p;
      if (pick >= 0 && proposal.positions[pick].margin < PickDoubt) {
        const int usual = pick;
        for (int p = first; p < field; ++p)
          if (!keptCode(p) && proposal.positions[p].margin > proposal.positions[usual].margin + PickMargin &&
              proposal.positions[p].margin > proposal.positions[pick].margin)
            pick = p;
      }
      const bool refused = field == first + 1 && first % 2 == 0 && evidence[first].refused >= MutualRefusal &&
                           measures[first].comb > MutualComb * measures[first].motion;
      if (refused && !keptCode(first)) {
        proposal.positions[first].code = '5';  // at an even position: its first field
        proposal.positions[first].orphan = true;
        proposal.positions[first].refused = true;
      } else if (pick >= 0) {
        proposal.positions[pick].code = '1';
      }
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
