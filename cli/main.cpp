// zemivtc: runs the ZEMIVTC filter over Y4M video, for ffmpeg pipelines.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/errors.h"
#include "cli/options.h"
#include "cli/plan_command.h"
#include "platform/system.h"
#include "review/editor_command.h"
#include "stream/output.h"

#ifndef ZEMIVTC_VERSION
#define ZEMIVTC_VERSION "unknown"
#endif

namespace {

// "zemivtc: " before every line of a message (a refusal and its hint).
void PrintError(const std::string& message) {
  size_t begin = 0;
  do {
    const size_t end = message.find('\n', begin);
    std::fprintf(stderr, "zemivtc: %s\n", message.substr(begin, end - begin).c_str());
    begin = end == std::string::npos ? end : end + 1;
  } while (begin != std::string::npos);
}

// The message, then the line naming the formats the command was working in.
int Failure(const std::string& message, int status) {
  PrintError(message);
  if (!cli::FailureContext().empty()) PrintError(cli::FailureContext());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cli;
  sys::PrepareStandardStreams();
  try {
    const Options options = ParseOptions(sys::Arguments(argc, argv));
    if (options.help) {
      std::fputs(UsageText(options).c_str(), stdout);
      return std::fflush(stdout) == 0 ? ExitOk : ExitFailure;
    }
    if (options.version) {
      std::printf("zemivtc %s\n", ZEMIVTC_VERSION);
      return std::fflush(stdout) == 0 ? ExitOk : ExitFailure;
    }
    stream::InstallSignalHandlers();
    if (options.planCommand)
      RunPlanCommand(options);
    else if (options.editCommand)
      review::RunEditCommand(options);
    else
      RunCommand(options);
    return ExitOk;
  } catch (const CliError& e) {
    return Failure(e.what(), e.Status());
  } catch (const std::bad_alloc&) {
    return Failure("out of memory", ExitFailure);
  } catch (const std::exception& e) {
    return Failure(e.what(), ExitFailure);
  }
}
