#include "cli/timecodes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/errors.h"
#include "cli/plan_command.h"
#include "plan/frame_plan.h"

namespace cli {

namespace {

// Film cadences as output frames per field positions: 3:2, 2:3:3:2 and
// 2:2:2:4 (24 frames in 60 fields), 3:2:3:2:2 (25 in 60), 24 frames in 50
// fields (eleven 2s and a 3).
struct FilmCadence {
  int frames, positions;
};
constexpr FilmCadence FilmCadences[] = {{4, 10}, {5, 12}, {12, 25}};

// A frame's time in field periods (1001/60000 s) as numerator / denominator.
struct FieldTime {
  __int128 numerator;
  int64_t denominator;
};

// Frames [begin, begin + count) of `positions` repeat `c`: every frame lies
// c.positions after the frame c.frames before it. Returns how many frames
// from `begin` do.
size_t PeriodicRun(const std::vector<int64_t>& positions, size_t begin, const FilmCadence& c) {
  size_t i = begin;
  const size_t n = static_cast<size_t>(c.frames);
  while (i + n < positions.size() && positions[i + n] == positions[i] + c.positions) ++i;
  return i == begin ? 0 : i - begin + n;
}

}  // namespace

std::string TimecodesText(const std::string& plan) {
  std::vector<int64_t> positions;
  for (size_t p = 0; p < plan.size(); ++p)
    if (IsFrameCode(static_cast<uint8_t>(plan[p]))) positions.push_back(static_cast<int64_t>(p));
  // Every frame starts at its position, but in telecined film, where frames
  // stand for 2 and 3 fields in turn, that would show them for uneven spans
  // (the judder the telecine put in). There the frames get the film's own
  // even times: a line through their positions with the cadence's slope,
  // placed at their mean over whole cycles, used where it stays within a
  // field of every position.
  std::vector<FieldTime> times(positions.size());
  for (size_t j = 0; j < positions.size(); ++j) times[j] = {positions[j], 1};
  for (size_t j = 0; j < positions.size();) {
    size_t best = 0;
    const FilmCadence* cadence = nullptr;
    for (const FilmCadence& c : FilmCadences) {
      const size_t run = PeriodicRun(positions, j, c);
      if (run >= 2 * static_cast<size_t>(c.frames) && run > best) {
        best = run;
        cadence = &c;
      }
    }
    if (!cadence) {
      ++j;
      continue;
    }
    const int64_t n = cadence->frames, period = cadence->positions;
    const int64_t whole = static_cast<int64_t>(best) / n * n;  // frames in whole cycles
    __int128 sum = 0;                                          // of n * (p_m - (m - j) * period / n)
    for (int64_t m = 0; m < whole; ++m) sum += static_cast<__int128>(n) * positions[j + m] - m * period;
    const int64_t denominator = n * whole;
    bool near = true;
    for (int64_t m = 0; m < static_cast<int64_t>(best); ++m) {
      const __int128 numerator = sum + static_cast<__int128>(m) * period * whole;
      const __int128 off = numerator - static_cast<__int128>(positions[j + m]) * denominator;
      near = near && off < denominator && -off < denominator;
    }
    for (int64_t m = 0; near && m < static_cast<int64_t>(best); ++m)
      times[j + m] = {sum + static_cast<__int128>(m) * period * whole, denominator};
    j += best;
  }
  // A line may put a stretch's first frame before the clip's start, or at or
  // before the last frame of a stretch just before it; that frame keeps its
  // position's time, which lies after every earlier frame's (each within a
  // field of its own earlier position), so times start at 0 and rise.
  for (size_t j = 0; j < times.size(); ++j) {
    const FieldTime& t = times[j];
    const bool early =
        j == 0 ? t.numerator < 0 : t.numerator * times[j - 1].denominator <= times[j - 1].numerator * t.denominator;
    if (early) times[j] = {positions[j], 1};
  }
  std::string text = "# timecode format v2\n";
  char line[48];
  for (const FieldTime& t : times) {
    // t * 1001/60 ms, rounded to the nanosecond.
    const __int128 scale = static_cast<__int128>(60) * t.denominator;
    const int64_t nanoseconds = static_cast<int64_t>((t.numerator * 1001 * 1000000 + scale / 2) / scale);
    std::snprintf(line, sizeof line, "%" PRId64 ".%06" PRId64 "\n", nanoseconds / 1000000, nanoseconds % 1000000);
    text += line;
  }
  return text;
}

TimecodesFile::TimecodesFile(const std::string& path, const std::string& planPath, int frames)
    : out(SameFile(path, planPath) ? throw CliError("cannot write " + path + ": it is the plan") : path) {
  struct stat st;
  if (stat(planPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    throw CliError("--timecodes reads the plan a second time, so --plan must name a regular file (" + planPath +
                   " is not one)");
  std::ifstream in(planPath, std::ios::binary);
  std::ostringstream plan;
  plan << in.rdbuf();
  if (!in && !in.eof()) throw CliError("cannot read " + planPath + ": " + std::strerror(errno));
  const std::string text = TimecodesText(plan.str());
  int lines = 0;
  for (char c : text) lines += c == '\n';
  if (lines - 1 != frames)
    throw CliError("the plan changed while it was read: " + std::to_string(lines - 1) + " timecodes for " +
                   std::to_string(frames) + " frames");
  out.Write(text.data(), text.size());
}

}  // namespace cli
