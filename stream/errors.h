// The error type of the command and its streams: a message for the user and
// the exit status it maps to (1: input, filter or output failure; 2: bad
// command line).
#ifndef ZEMIVTC_STREAM_ERRORS_H
#define ZEMIVTC_STREAM_ERRORS_H

#include <stdexcept>
#include <string>

namespace stream {

enum ExitStatus { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& message, int status = ExitFailure)
      : std::runtime_error(message), exitStatus(status) {}
  int Status() const { return exitStatus; }

 private:
  int exitStatus;
};

}  // namespace stream

#endif
