#include "cli/plan_forecast.h"

#include "compose/compose.h"
#include "plan/frame_plan.h"
#include "platform/system.h"

namespace cli {

PlanForecast::PlanForecast(std::vector<uint8_t> planBytes)
    : plan(std::move(planBytes)),
      known(true),
      dependsOnOrder(PlanDependsOnFieldOrder(plan.data(), static_cast<int32_t>(plan.size()))) {
  for (uint8_t byte : plan) frameCount += IsFrameCode(byte) ? 1 : 0;
  while (cursorPosition < plan.size() && !IsFrameCode(plan[cursorPosition])) ++cursorPosition;
}

PlanForecast PlanForecast::Read(const std::string& path) {
  // Looked at before it is opened: opening a FIFO's read end, even for a
  // moment, would let its writer start and could lose what it wrote when
  // closed again before the filter opens it.
  if (!sys::StatusOf(path).regular) return PlanForecast();
  const int fd = sys::OpenForReading(path, /*noWait=*/true);
  if (fd < 0) return PlanForecast();
  std::vector<uint8_t> bytes;
  const sys::PathStatus st = sys::StatusOf(fd);
  bool ok = st.regular && st.size <= MaxPlanSize;
  if (ok) {
    bytes.resize(static_cast<size_t>(st.size));
    size_t done = 0;
    while (done < bytes.size()) {
      const int64_t got = sys::ReadAt(fd, bytes.data() + done, bytes.size() - done, static_cast<int64_t>(done));
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    ok = done == bytes.size();
  }
  sys::Close(fd);
  return ok ? PlanForecast(std::move(bytes)) : PlanForecast();
}

int64_t PlanForecast::PositionOf(int64_t n) {
  if (!known || n < 0 || n >= frameCount) return -1;
  if (n < cursorFrame) {
    cursorFrame = 0;
    cursorPosition = 0;
    while (!IsFrameCode(plan[cursorPosition])) ++cursorPosition;
  }
  while (cursorFrame < n) {
    ++cursorFrame;
    do ++cursorPosition;
    while (!IsFrameCode(plan[cursorPosition]));
  }
  return static_cast<int64_t>(cursorPosition);
}

int PlanForecast::PassThroughSource(int64_t n) {
  const int64_t p = PositionOf(n);
  return p >= 0 && plan[p] == '1' && p % 2 == 0 ? static_cast<int>(p / 2) : -1;
}

bool PlanForecast::WovenSources(int64_t n, int* upper, int* lower) {
  const int64_t p = PositionOf(n);
  if (p < 0 || plan[p] != '1' || p % 2 == 0) return false;
  const FrameRecipe recipe = RecipeFor(FramePlanEntry{static_cast<uint32_t>(p), '1'});
  *upper = recipe.upper;
  *lower = recipe.lower;
  return recipe.woven;
}

}  // namespace cli
