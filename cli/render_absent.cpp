// TEMPORARY: the command's render in the Windows build (ZEMIVTC_COMMAND_RENDER
// off). The render still runs the module in the stand-in host, which loads it
// with dlopen and builds for POSIX systems only; until the render runs on the
// core directly, this build makes plans, writes a plan's timecodes, and
// refuses to render, saying where to render instead.
#include "cli/app.h"
#include "cli/errors.h"
#include "cli/timecodes.h"
#include "plan/frame_plan.h"
#include "platform/system.h"

namespace cli {

std::string DefaultModulePath() { throw CliError("this build of zemivtc has no render and loads no module"); }

void RunCommand(const Options& options, const RunTuning&) {
  std::string timecodes;
  if (!options.timecodes.empty()) {
    std::string plan;
    if (!sys::ReadWholeFile(options.plan, MaxPlanSize, &plan))
      throw CliError("cannot read " + options.plan + ": " + sys::ErrorText());
    if (plan.size() > static_cast<size_t>(MaxPlanSize))
      throw CliError("the plan " + options.plan + " is longer than " + std::to_string(MaxPlanSize) + " bytes");
    const int frames =
        CountPlanFrames(reinterpret_cast<const uint8_t*>(plan.data()), static_cast<int32_t>(plan.size()));
    TimecodesFile file(options.timecodes, options.plan, frames);
    file.Commit();
    timecodes = " (the plan's timecodes are in " + options.timecodes + ")";
  }
  throw CliError("this build of zemivtc makes plans but does not render yet" + timecodes +
                 ": render the plan in your host with the zemivtc modules (docs/windows.md)");
}

}  // namespace cli
