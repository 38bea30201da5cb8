#include "cli/plan_forecast.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "plan/frame_plan.h"

namespace cli {

PlanForecast PlanForecast::Read(const std::string& path) {
  // Looked at before it is opened: opening a FIFO's read end, even for a
  // moment, would let its writer start and could lose what it wrote when
  // closed again before the render reads it.
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
  PlanForecast forecast;
  forecast.known = ok;
  forecast.dependsOnOrder = !ok || PlanDependsOnFieldOrder(bytes.data(), static_cast<int32_t>(bytes.size()));
  return forecast;
}

}  // namespace cli
