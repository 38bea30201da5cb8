// The command's work: read the plan, run the filter's core over the input
// stream, then print the output clip's properties or render every frame.
#ifndef ZEMIVTC_CLI_APP_H
#define ZEMIVTC_CLI_APP_H

#include "cli/options.h"

namespace cli {

// Shortcuts the command takes; each one writes the same bytes as the plain
// path, which the tests check by turning them off.
struct RunTuning {
  bool mapInput = true;  // memory-map a regular input file instead of reading it
  // Write a source frame the plan passes through unchanged ('1' at an even
  // position) from its stored bytes (from the file with sendfile where it
  // can), and a weave of two source frames as they are ('1' at an odd
  // position) from the two frames' rows, when the output stores frames as
  // the input does; off, the filter's core copies and weaves them.
  bool passThrough = true;
  bool deferRead = true;     // read a file's frame only when its bytes are wanted
  bool writerThread = true;  // convert and write output frame n on a thread of its own while n+1 is made
  int threads = 0;           // threads for reads and conversions in bands; 0: one per processor
};

// Runs the command; throws CliError on failure.
void RunCommand(const Options& options, const RunTuning& tuning = RunTuning());

}  // namespace cli

#endif
