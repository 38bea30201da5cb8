// `zemivtc plan --review DIR`: a page of the places where the plan is least
// sure, for a browser to open from disk (one HTML file, the timeline and PNG
// thumbnails; no scripts, no network).
//
// The places are the cadence breaks, the weaves that the pairings of their
// fields speak against (the decision's `combed` times its `evidence` at
// least AgainstEvidence: the plan weaves them however sure it is, as a
// change of cadence there costs more, say at an edit between held drawings
// that the cut measure missed, and a combed frame is the one mistake every
// viewer sees), and the positions whose decision won by the smallest
// margins (the cheapest plan deciding the other way there costs little
// more): breaks first, least sure first, then those weaves, most combed
// first, then doubtful decisions, least sure first, at most 1 in
// ReviewShareDivisor positions and MaxReviewPlaces in all, and no two next
// to each other (a place shows its neighbours too). Breaks beyond that are
// marked on the timeline only. Each place shows the weaves at the position
// and its two neighbours, the position's two fields rebuilt alone and a
// close-up of its weave, with their measures, the code chosen, and the
// keep-file line that would choose each instead.
//
// Besides the places, in a clip that has film or video stretches too, the
// page lists every stretch of whole frames (progressive, 2:2 with frames at
// even positions) that moves: interlaced video whose comb a lossy encode
// erased reads as such frames, as surely as progressive footage does, and
// its plan weaves fields of two moments into each frame. Only the person can
// tell them apart, so each such stretch is listed, outside the places'
// share, with a weave, and the keep-file line that makes it video.
#ifndef ZEMIVTC_CLI_REVIEW_H
#define ZEMIVTC_CLI_REVIEW_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/cadence.h"
#include "analysis/field_measures.h"

namespace cli {

// Places at most 1 in 50 positions (2 %), and never more than a page one
// can go through (and that a two-hour clip makes in a few seconds).
constexpr int ReviewShareDivisor = 50;
constexpr int MaxReviewPlaces = 500;
using analysis::DoubtfulMargin;

constexpr double AgainstEvidence = 0.5;

struct ReviewPlace {
  int position = 0;
  bool cadenceBreak = false;
  double margin = 0;
  bool againstPairings = false;  // listed as a join its pairings speak against (woven, or refused and rebuilt)
};

// In position order.
std::vector<ReviewPlace> ChooseReviewPlaces(const analysis::Proposal& proposal);

// Moving stretches of whole frames: the part of a run of positions decided
// progressive between two cuts, at least MinStretchPositions long, in which
// at least MinMovingPositions positions have the evidence of motion
// MovingEvidence. At 0.5 the change between the fields around a position
// stands out of the noise and an encode's errors by half of what the cadence
// search takes for full evidence: two moments woven there differ visibly.
// Six positions are three frames: a stretch that moves less can make at most
// a frame or two combed, as few as any doubtful place, and the remnant of a
// film stretch that an edit leaves beside a cut is not listed as a stretch.
constexpr double MovingEvidence = 0.5;
constexpr int MinMovingPositions = 6;
constexpr int MinStretchPositions = 6;
// Inside a run, a position whose motion is SceneCutMotion times the run's
// median motion weaves across a cut: the run is split after it (video and
// progressive footage cut together read as one run of whole frames).
constexpr double SceneCutMotion = 8;

struct MovingStretch {
  int first = 0, last = 0;  // positions, inclusive; the keep line "FIRST-LAST 2" makes them video
  int frames = 0;           // the frames the plan takes whole in it
  int weave = 0;            // the position of the weave shown: the most combed frame taken whole
};

// In position order; none where every position is progressive (or kept).
std::vector<MovingStretch> ChooseMovingStretches(const analysis::Proposal& proposal,
                                                 const std::vector<analysis::PositionMeasures>& measures);

// The keep-file line that makes a stretch video: every position's code '2'.
std::string VideoKeepLine(const MovingStretch& stretch);

struct ReviewContent {
  std::string inputName;
  int width = 0, height = 0;
  const analysis::Proposal* proposal = nullptr;
  const std::vector<analysis::PositionMeasures>* measures = nullptr;
  std::vector<ReviewPlace> places;
  std::vector<MovingStretch> stretches;
  // The source's first field is its bottom one: an odd position 2k+1 weaves
  // frame k's top field with frame k+1's bottom field.
  bool bottomFirst = false;
  // Fills `yuy2` with frame n's packed rows (2 * width bytes each).
  std::function<void(int n, std::vector<uint8_t>* yuy2)> readFrame;
  // Runs work(begin, end) over ranges covering [0, count) on several
  // threads; without one the pictures are made on the caller's thread.
  analysis::BandRunner runner;
  // Told the places whose pictures are made, after each batch (optional).
  std::function<void(int done, int total)> progress;
};

// Whether a review in `dir` writes the file at `path`: index.html,
// timeline.png or a thumbnail in that folder.
bool IsReviewFile(const std::string& dir, const std::string& path);

// Writes DIR/index.html, DIR/timeline.png and the thumbnails DIR/p*.png.
// DIR is made when missing (its parent must exist); files of an earlier
// review there are replaced, nothing else is touched. Until Commit()
// succeeds, what it wrote is removed again when it is destroyed, and so is
// DIR when it made it.
class ReviewWriter {
 public:
  // Throws CliError when DIR cannot be made or written.
  explicit ReviewWriter(const std::string& dir);
  ~ReviewWriter();
  ReviewWriter(const ReviewWriter&) = delete;
  ReviewWriter& operator=(const ReviewWriter&) = delete;

  void Write(const ReviewContent& content);
  void Commit() { committed = true; }

 private:
  void WriteFile(const std::string& name, const std::string& bytes);

  std::string dir;
  bool madeDir = false;
  bool committed = false;
  std::vector<std::string> written;
};

}  // namespace cli

#endif
