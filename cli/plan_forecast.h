// What the command expects each output frame to be, read from the plan file
// beside the filter's own reading of it: which output frames are a source
// frame handed back unchanged ('1' at an even position). The command uses it
// only to skip converting a source frame whose pixels the filter will not
// read; it checks every such guess against the frame the filter returns, so
// a wrong forecast costs time, never bytes.
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

 private:
  std::vector<uint8_t> plan;
  bool known = false;
  bool dependsOnOrder = true;
  int64_t frameCount = 0;
  // Cursor: the output frame made at plan[position], or the end.
  int64_t cursorFrame = 0;
  size_t cursorPosition = 0;
};

}  // namespace cli

#endif
