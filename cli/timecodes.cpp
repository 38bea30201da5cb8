#include "cli/timecodes.h"

#include <cstdio>
#include <vector>

#include "cli/errors.h"
#include "cli/plan_command.h"
#include "plan/frame_plan.h"
#include "plan/frame_times.h"
#include "platform/system.h"

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
  if (!sys::StatusOf(planPath).regular)
    throw CliError("--timecodes reads the plan a second time, so --plan must name a regular file (" + planPath +
                   " is not one)");
  std::string plan;
  if (!sys::ReadWholeFile(planPath, MaxPlanSize, &plan))
    throw CliError("cannot read " + planPath + ": " + sys::ErrorText());
  const std::string text = TimecodesText(plan);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  if (lines - 1 != frames)
    throw CliError("the plan changed while it was read: " + std::to_string(lines - 1) + " timecodes for " +
                   std::to_string(frames) + " frames");
  out.Write(text.data(), text.size());
}

}  // namespace cli
