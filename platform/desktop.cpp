// rand_s (the system's random source through the C runtime on Windows) is
// declared only when this comes before the first C header.
#ifdef _WIN32
#define _CRT_RAND_S
#endif
#include "platform/desktop.h"

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
// ShellExecuteA.
#include <shellapi.h>
#else
#include <errno.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace platform {

#ifdef _WIN32

bool ErrorStreamIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool SystemRandom(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; i += 4) {
    unsigned int word;
    if (rand_s(&word) != 0) return false;
    for (size_t k = 0; k < 4 && i + k < count; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return true;
}

bool OpenInBrowser(const std::string& url) {
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

#else

bool ErrorStreamIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool SystemRandom(uint8_t* bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    const ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool OpenInBrowser(const std::string& url) {
  // xdg-open returns once the browser is asked; its child is not waited for
  // here beyond that.
  std::string program = "xdg-open", argument = url;
  char* argv[] = {&program[0], &argument[0], nullptr};
  pid_t child;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

}  // namespace platform
