#include "cli/plan_forecast.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "compose/compose.h"
#include "plan/frame_plan.h"

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
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return PlanForecast();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return PlanForecast();
  std::vector<uint8_t> bytes;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxPlanSize;
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    ok = done == bytes.size();
  }
  close(fd);
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
