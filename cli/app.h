// The command's work: load the module, build the filter over the input
// stream, then print the output clip's properties or render every frame.
#ifndef ZEMIVTC_CLI_APP_H
#define ZEMIVTC_CLI_APP_H

#include <string>

#include "cli/options.h"

namespace cli {

// The module to load when --plugin is not given: the one built beside the
// command, else the one installed with it (../lib/zemivtc/). Throws CliError
// naming the places looked at.
std::string DefaultModulePath();

// Shortcuts the command takes; each one writes the same bytes as the plain
// path, which the tests check by turning them off.
struct RunTuning {
  bool mapInput = true;     // memory-map a regular input file instead of reading it
  bool passThrough = true;  // write an unchanged source frame from its stored planar bytes
  // Convert a Y4M source frame to YUY2 only when the filter is handed it, and
  // not at all when the plan says the filter hands it back unchanged.
  bool deferConversion = true;
  // Where the command reads its forecast of unchanged frames; empty: the
  // plan. Tests give it a wrong one: that must cost time, not bytes.
  std::string forecastPlan;
  bool writerThread = true;  // convert and write output frame n on a thread of its own while n+1 is made
  int threads = 0;           // threads converting between planar and packed rows; 0: one per processor
};

// Runs the command; throws CliError on failure.
void RunCommand(const Options& options, const RunTuning& tuning = RunTuning());

}  // namespace cli

#endif
