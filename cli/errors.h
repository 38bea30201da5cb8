// The command reports failures with the streams' error type.
#ifndef ZEMIVTC_CLI_ERRORS_H
#define ZEMIVTC_CLI_ERRORS_H

#include <string>

#include "stream/errors.h"

namespace cli {
using stream::CliError;
using stream::ExitFailure;
using stream::ExitOk;
using stream::ExitStatus;
using stream::ExitUsage;

// A line naming the formats a command works in ("input 720x480 4:2:0
// (C420mpeg2), ..."), set once it has opened its input; the command's main
// prints it under any failure, so that every error names the colour format.
inline std::string& FailureContext() {
  static std::string line;
  return line;
}
}  // namespace cli

#endif
