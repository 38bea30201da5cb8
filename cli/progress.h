// The progress line of long work (indexing a source, the analysis, the
// review's pictures, the render): one line on standard error, redrawn in
// place at most four times a second, with how much is done, how fast and
// how long is left. Shown only where standard error is a terminal and -q
// was not given; nothing is written otherwise.
#ifndef ZEMIVTC_CLI_PROGRESS_H
#define ZEMIVTC_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace cli {

// Whether progress lines are shown: not quiet, and standard error a terminal.
bool ProgressWanted(bool quiet);

class Progress {
 public:
  // `what` starts the line ("zemivtc plan: analysing movie.vob"); `unit`
  // names what is counted ("frame", "place"), or is empty for a share
  // shown in percent (bytes of a file).
  Progress(bool shown, std::string what, std::string unit = "frame");
  // Ends the line, if one was drawn.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` of `total` (total <= 0: not known, and no time left is shown).
  void Update(int64_t done, int64_t total);

 private:
  using Clock = std::chrono::steady_clock;
  bool shown;
  std::string what, unit;
  Clock::time_point start, last;
  bool drawn = false;
  int64_t lastDone = -1;
  size_t width = 0;  // of the line last drawn, to blank what a shorter one leaves
};

// "0:42", "1:05:09".
std::string Duration(double seconds);

}  // namespace cli

#endif
