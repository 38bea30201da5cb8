#include "cli/timecodes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/errors.h"
#include "cli/plan_command.h"
#include "plan/frame_plan.h"

namespace cli {

std::string TimecodesText(const std::string& plan) {
  std::string text = "# timecode format v2\n";
  char line[48];
  for (size_t p = 0; p < plan.size(); ++p) {
    if (!IsFrameCode(static_cast<uint8_t>(plan[p]))) continue;
    // p * 1001/60 ms, rounded to the nanosecond.
    const int64_t nanoseconds = (static_cast<int64_t>(p) * 1001 * 1000000 + 30) / 60;
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
