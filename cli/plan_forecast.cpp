#include "cli/plan_forecast.h"

#include <cstdint>
#include <vector>

#include "plan/frame_plan.h"
#include "platform/system.h"

namespace cli {

PlanForecast PlanForecast::Read(const std::string& path) {
  // Looked at before it is opened: opening a FIFO's read end, even for a
  // moment, would let its writer start and could lose what it wrote when
  // closed again before the render reads it.
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
  PlanForecast forecast;
  forecast.known = ok;
  forecast.dependsOnOrder = !ok || PlanDependsOnFieldOrder(bytes.data(), static_cast<int32_t>(bytes.size()));
  return forecast;
}

}  // namespace cli
