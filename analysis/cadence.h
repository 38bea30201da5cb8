// From the measures of a clip's field positions to a plan: which fields
// belong to one picture, and which position emits each picture.
//
// Every position p either joins fields p and p+1 into one picture or
// separates them (a boundary). The boundaries follow a cadence: a repeating
// cycle of picture lengths in fields, at some phase:
//   video 1 (every field its own moment), 2:2 (progressive frames or film
//   carried two fields a frame), 3:2 and 2:3:3:2 (film telecined to 60
//   fields), 3:2:3:2:2 (25 frames to 60 fields) and 2:2:2:4.
// A Viterbi search picks, for the whole clip, the sequence of cadence and
// phase that costs least. The costs are a field's: for field q, whether
// positions q-1 and q join or separate it. A field joined against its
// pairing (the measure of which neighbour it belongs with) costs much, one
// joined with no pairing for it a little, one left alone though it and a
// neighbour pair firmly much; three fields in one picture whose outer two
// differ cost much, and a telecine repeat (field q+1 repeating q-1 where
// the fields around change) not kept in one picture as much. Pairings are
// weighed by how far the motion that makes them stands out of the noise,
// of an encode's errors (read off the repeats) and of the stretch's motion;
// beside a cut a field takes its neighbour's pairing. A change of cadence or
// phase costs little at a cut, much elsewhere, and more just before a cut
// (a shot keeps its cadence to its last field). Where the pictures give
// no evidence (a still scene) the cadence in force carries on, so the count
// of pictures stays right. A stretch that no cadence explains is followed
// field by field at a cost per position.
//
// Then each picture of two or more fields is emitted once with '1', at the
// frame itself (an even position) where it is one of its positions, else at
// the weave; a lone field is rebuilt from itself: '2' in video, '5' (the
// field of the parity each frame shows first) or '4' (the other) where an
// edit left it without its partner. Other positions get '0'. Positions
// whose codes a keep file gives keep them, and the cadence is fitted
// around them; each position's margin says how much dearer the other
// decision there would be.
#ifndef ZEMIVTC_ANALYSIS_CADENCE_H
#define ZEMIVTC_ANALYSIS_CADENCE_H

#include <string>
#include <vector>

#include "analysis/field_measures.h"

namespace analysis {

enum class Stretch : unsigned char { Film, Progressive, Video };

// Decisions that won by less than this (in the search's cost units: a
// change of cadence costs CutSwitchCost at a cut and SwitchCost elsewhere)
// are doubtful: the review page lists them.
constexpr double DoubtfulMargin = 8;

struct Decision {
  char code = '0';
  Stretch stretch = Stretch::Film;
  bool boundary = false;      // fields p and p+1 are different pictures
  bool cadenceBreak = false;  // the cadence or its phase changes here (an edit)
  bool orphan = false;        // '4' or '5': a field left without its partner
  bool refused = false;       // the two fields of a frame refuse each other: the first rebuilt, not woven
  int cadence = 0;            // index into CadenceNames(); -1 where no cadence fits
  int phase = 0;
  double combed = 0;    // 0 (one moment) .. 1 (two moments), from the measures
  double evidence = 0;  // 0 (no motion to judge by) .. 1
  // How much dearer the cheapest plan that decides the other way here
  // (boundary against joined) is than the chosen one, in the search's cost
  // units; infinite where a constraint fixes the boundary.
  double margin = 0;
  bool kept = false;  // the code was given as a constraint
};

// Decisions given by the user, which the search keeps and fits the cadence
// around. Empty vectors constrain nothing; otherwise one entry per position
// (`fieldTaken`: one per field, positions + 1).
struct Constraints {
  std::vector<char> code;             // the code kept at the position, '\0' where free
  std::vector<signed char> boundary;  // -1 free, 0 fields p and p+1 joined, 1 apart
  std::vector<bool> fieldTaken;       // the field is shown by a kept code: no other pick for its picture
};

struct Proposal {
  std::vector<Decision> positions;
  // The last field, when it is a picture of its own, has no position that
  // can rebuild it; it is left out and counted here.
  bool lastFieldLeftOut = false;
};

// The search's price of a change of cadence or phase, in the units of its
// costs and of the margins: where a cut is (an edit, which breaks the
// cadence as a rule), and elsewhere, where only an edit no cut shows, or
// misleading measures, would break it.
constexpr double CutSwitchCost = 6;
constexpr double SwitchCost = 20;

// Cadence names, "video", "2:2", "3:2", ...; index -1 is "irregular".
const std::vector<std::string>& CadenceNames();
std::string CadenceName(int cadence);

// `fieldSamples`: FieldAnalyzer::FieldSamples(), the scale of the motion
// figures. `constraints` (from a keep file) fix some positions' codes; the
// cadence is fitted around them.
Proposal ProposePlan(const std::vector<PositionMeasures>& measures, double fieldSamples,
                     const Constraints* constraints = nullptr);

// Summary of a proposal for the report.
struct PlanSummary {
  int positions = 0;
  int filmPositions = 0, progressivePositions = 0, videoPositions = 0;
  int filmFrames = 0;         // '1' in film stretches
  int progressiveFrames = 0;  // '1' in progressive stretches
  int videoFields = 0;        // '2'
  int orphans = 0;            // '4' and '5'
  int outputFrames = 0;
  std::vector<int> breakFrames;  // frame numbers (position / 2) where the cadence breaks
};
PlanSummary Summarize(const Proposal& proposal);

}  // namespace analysis

#endif
