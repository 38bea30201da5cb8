// zemivtc: runs the ZEMIVTC filter module over Y4M video, for ffmpeg pipelines.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/errors.h"
#include "cli/options.h"
#include "cli/output.h"

#if defined(__GLIBC__)  // known once a C library header is in
#include <malloc.h>
#endif

#ifndef ZEMIVTC_VERSION
#define ZEMIVTC_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  using namespace cli;
#ifdef __GLIBC__  // mallopt and its settings are glibc's
#if defined(__GLIBC__)
  // Frames are megabytes each and come and go every output frame. Served
  // from the heap and kept there, they reuse the same pages instead of
  // being mapped afresh and faulted in (zero-filled) by the kernel each time.
  // The number of frames alive at once is bounded, so memory stays flat.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
#endif
  try {
    const Options options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::fputs(UsageText().c_str(), stdout);
      return std::fflush(stdout) == 0 ? ExitOk : ExitFailure;
    }
    if (options.version) {
      std::printf("zemivtc %s\n", ZEMIVTC_VERSION);
      return std::fflush(stdout) == 0 ? ExitOk : ExitFailure;
    }
    InstallSignalHandlers();
    RunCommand(options);
    return ExitOk;
  } catch (const CliError& e) {
    std::fprintf(stderr, "zemivtc: %s\n", e.what());
    return e.Status();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zemivtc: out of memory\n");
    return ExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemivtc: %s\n", e.what());
    return ExitFailure;
  }
}
