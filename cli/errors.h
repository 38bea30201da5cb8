// The command reports failures with the streams' error type.
#ifndef ZEMIVTC_CLI_ERRORS_H
#define ZEMIVTC_CLI_ERRORS_H

#include "stream/errors.h"

namespace cli {
using stream::CliError;
using stream::ExitFailure;
using stream::ExitOk;
using stream::ExitStatus;
using stream::ExitUsage;
}  // namespace cli

#endif
