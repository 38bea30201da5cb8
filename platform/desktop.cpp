#include "platform/desktop.h"

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#include <windows.h>
// ShellExecuteA's declaration, without the whole shell header.
#include <shellapi.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace platform {

#ifdef _WIN32

bool ErrorStreamIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool OpenInBrowser(const std::string& url) {
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

#else

bool ErrorStreamIsTerminal() { return isatty(STDERR_FILENO) != 0; }

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
