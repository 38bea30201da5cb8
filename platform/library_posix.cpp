#include <dlfcn.h>

#include <cstdlib>

#include "platform/library.h"

namespace platform {

Library* OpenLibrary(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "dlopen failed";
  }
  return static_cast<Library*>(handle);
}

void* LibrarySymbol(Library* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseLibrary(Library* library) {
  if (library) dlclose(library);
}

std::string UserCacheFolder() {
  // XDG base directories: a relative $XDG_CACHE_HOME is invalid and ignored.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.cache";
  return std::string();
}

}  // namespace platform
