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

// Runs the command; throws CliError on failure.
void RunCommand(const Options& options);

}  // namespace cli

#endif
