// `zemivtc plan --review DIR`: a page of the places where the plan is least
// sure, for a browser to open from disk (one HTML file, the timeline and PNG
// thumbnails; no scripts, no network).
//
// The places are the cadence breaks and the positions whose decision won by
// the smallest margins (the cheapest plan deciding the other way there costs
// little more): breaks first, then doubtful decisions, each least sure
// first, at most 1 in ReviewShareDivisor positions and MaxReviewPlaces in
// all, and no two next to each other (a place shows its neighbours too).
// Breaks beyond that are marked on the timeline only. Each place shows the
// weaves at the position and its two neighbours, the position's two fields
// rebuilt alone and a close-up of its weave, with their measures, the code
// chosen, and the keep-file line that would choose each instead.
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

struct ReviewPlace {
  int position = 0;
  bool cadenceBreak = false;
  double margin = 0;
};

// In position order.
std::vector<ReviewPlace> ChooseReviewPlaces(const analysis::Proposal& proposal);

struct ReviewContent {
  std::string inputName;
  int width = 0, height = 0;
  const analysis::Proposal* proposal = nullptr;
  const std::vector<analysis::PositionMeasures>* measures = nullptr;
  std::vector<ReviewPlace> places;
  // The source's first field is its bottom one: an odd position 2k+1 weaves
  // frame k's top field with frame k+1's bottom field.
  bool bottomFirst = false;
  // Fills `yuy2` with frame n's packed rows (2 * width bytes each).
  std::function<void(int n, std::vector<uint8_t>* yuy2)> readFrame;
  // Runs work(begin, end) over ranges covering [0, count) on several
  // threads; without one the pictures are made on the caller's thread.
  analysis::BandRunner runner;
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
