// What the command knows of the plan before it reads it for the render:
// whether its frames depend on the source's field order, from an early look
// at a plan that is a regular file. The field order is decided (and, where
// it matters, measured from the input) before the plan is read for the
// render, where the filter read it; a plan that cannot be looked at early
// (a pipe or FIFO, which can be read only once) counts as one whose frames
// depend on the order.
#ifndef ZEMIVTC_CLI_PLAN_FORECAST_H
#define ZEMIVTC_CLI_PLAN_FORECAST_H

#include <string>

namespace cli {

class PlanForecast {
 public:
  // No forecast.
  PlanForecast() = default;
  // The plan at `path` if it is a regular file of at most the filter's size
  // limit; otherwise (a pipe, or anything unreadable) no forecast.
  static PlanForecast Read(const std::string& path);

  bool Known() const { return known; }
  // PlanDependsOnFieldOrder of the plan read; true when nothing was read.
  bool DependsOnFieldOrder() const { return !known || dependsOnOrder; }

 private:
  bool known = false;
  bool dependsOnOrder = true;
};

}  // namespace cli

#endif
