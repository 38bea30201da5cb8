// Shared libraries loaded at run time (dlopen on POSIX systems, LoadLibraryW
// on Windows), so that a program runs without an optional library and says
// what to install when a feature needs it. Paths are UTF-8 on every system.
// Not part of the module: it uses the C++ library.
#ifndef ZEMIVTC_PLATFORM_LIBRARY_H
#define ZEMIVTC_PLATFORM_LIBRARY_H

#include <string>

namespace platform {

struct Library;

// Opens the library at `path`: a bare file name is searched for as the
// system searches (on Windows the program's own folder first, then the
// PATH). Returns nullptr and sets `error` to the system's reason on failure.
Library* OpenLibrary(const std::string& path, std::string* error);
// The address of an exported function or object; nullptr when missing.
void* LibrarySymbol(Library* library, const char* name);
void CloseLibrary(Library* library);

// The folder that holds caches of this user's programs: on Windows
// %LOCALAPPDATA%, elsewhere $XDG_CACHE_HOME, else $HOME/.cache. Empty when
// the environment names none.
std::string UserCacheFolder();

}  // namespace platform

#endif
