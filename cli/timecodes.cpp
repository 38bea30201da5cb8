#include "cli/timecodes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/errors.h"
#include "cli/plan_command.h"
#include "plan/frame_plan.h"
#include "plan/frame_times.h"

namespace cli {

std::string TimecodesText(const std::string& plan) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(plan.data());
  const int32_t size = static_cast<int32_t>(plan.size());
  std::vector<FramePlanEntry> table(static_cast<size_t>(CountPlanFrames(bytes, size)));
  FillFrameTable(bytes, size, table.data());
  std::vector<FrameTime> times(table.size());
  FrameTimes(table.data(), static_cast<int32_t>(table.size()), times.data());
  std::string text = TimecodesHeader;
  char line[40];
  for (const FrameTime& t : times) text.append(line, static_cast<size_t>(FormatTimecodeLine(t, line)));
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
