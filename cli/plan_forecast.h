// What the command expects each output frame to be, read from the plan file
// beside the filter's own reading of it: which output frames are a source
// frame handed back unchanged ('1' at an even position), and which the weave
// of two source frames as they are ('1' at an odd position). The command
// uses it to skip converting source frames whose pixels the filter will not
// read, and checks every such guess against the frame the filter returns, so
// a wrong forecast costs time, never bytes; and to write weaves from the
// input's stored frames itself, which it does only with a forecast read from
// the filter's own plan file, unchanged after the filter read it.
#ifndef ZEMIVTC_CLI_PLAN_FORECAST_H
#define ZEMIVTC_CLI_PLAN_FORECAST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

class PlanForecast {
 public:
  // No forecast: every answer is -1.
  PlanForecast() = default;
  explicit PlanForecast(std::vector<uint8_t> planBytes);
  // The plan at `path` if it is a regular file of at most the filter's size
  // limit; otherwise (a pipe, which the filter alone may read, or anything
  // unreadable) no forecast.
  static PlanForecast Read(const std::string& path);

  bool Known() const { return known; }
  // PlanDependsOnFieldOrder of the plan read; true when nothing was read.
  bool DependsOnFieldOrder() const { return !known || dependsOnOrder; }
  // Output frames the plan makes.
  int64_t FrameCount() const { return frameCount; }
  // The source frame that output frame n is, unchanged, or -1 when output n
  // is made from pixels (or unknown). Cheapest when n rises one at a time.
  int PassThroughSource(int64_t n);
  // True when output frame n weaves two source frames as they are: its
  // packed top field (even rows as the filter sees them) from `upper`, the
  // other from `lower` (k+1 and k at position 2k+1).
  bool WovenSources(int64_t n, int* upper, int* lower);
  const std::vector<uint8_t>& Bytes() const { return plan; }

 private:
  std::vector<uint8_t> plan;
  bool known = false;
  bool dependsOnOrder = true;
  int64_t frameCount = 0;
  // The plan position of output frame n; -1 when unknown.
  int64_t PositionOf(int64_t n);
  // Cursor: the output frame made at plan[position], or the end.
  int64_t cursorFrame = 0;
  size_t cursorPosition = 0;
};

}  // namespace cli

#endif
