// `zemivtc edit SOURCE [--plan P] [--keep K] [--open]`: analyses SOURCE,
// starts the editor's server on 127.0.0.1 and prints its address; serves
// until the process is stopped (Ctrl-C: every change is on disk already).
#ifndef ZEMIVTC_REVIEW_EDITOR_COMMAND_H
#define ZEMIVTC_REVIEW_EDITOR_COMMAND_H

#include "cli/options.h"

namespace review {

// Throws CliError on failure.
void RunEditCommand(const cli::Options& options);

}  // namespace review

#endif
