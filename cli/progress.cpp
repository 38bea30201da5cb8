#include "cli/progress.h"

#include <cstdio>

#include "platform/system.h"

namespace cli {

bool ProgressWanted(bool quiet) { return !quiet && sys::IsTerminal(sys::StandardError); }

std::string Duration(double seconds) {
  const long whole = seconds > 0 && seconds < 1e8 ? static_cast<long>(seconds + 0.5) : 0;
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

Progress::Progress(bool shown, std::string what, std::string unit)
    : shown(shown), what(std::move(what)), unit(std::move(unit)), start(Clock::now()), last(start) {}

Progress::~Progress() {
  if (drawn) std::fputc('\n', stderr);
}

void Progress::Update(int64_t done, int64_t total) {
  if (!shown) return;
  const auto now = Clock::now();
  if ((total <= 0 || done < total) && now - last < std::chrono::milliseconds(250)) return;
  if (drawn && done == lastDone) return;
  last = now;
  lastDone = done;
  // A rate over the first moments says nothing: none is shown before them.
  const double seconds = std::chrono::duration<double>(now - start).count();
  const double rate = seconds >= 0.2 ? done / seconds : 0.0;
  char text[128];
  std::string line = "\r" + what + "  ";
  if (unit.empty()) {
    std::snprintf(text, sizeof text, "%d%%", total > 0 ? static_cast<int>(done * 100 / total) : 0);
  } else {
    const std::string count = total > 0 ? std::to_string(done) + "/" + std::to_string(total) : std::to_string(done);
    if (rate <= 0)
      std::snprintf(text, sizeof text, "%s %s", unit.c_str(), count.c_str());
    else if (unit == "frame")
      std::snprintf(text, sizeof text, "frame %s  %.1f fps", count.c_str(), rate);
    else
      std::snprintf(text, sizeof text, "%s %s  %.1f %ss/s", unit.c_str(), count.c_str(), rate, unit.c_str());
  }
  line += text;
  if (total > 0 && rate > 0) line += "  " + Duration((total - done) / rate) + " left";
  const size_t length = line.size();
  if (length < width) line.append(width - length, ' ');
  width = length;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn = true;
}

}  // namespace cli
