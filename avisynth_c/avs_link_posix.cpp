// Linux: the host's functions by dlsym, so that the module records no
// dependency on libavisynth (whose SONAME changes with each interface
// version) and loads whether the host's library was opened with RTLD_LOCAL,
// which keeps its symbols out of the global scope, or RTLD_GLOBAL.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "avisynth_c/avs_link.h"

bool BindHostFunctions(const void* caller, AvsApi& api) {
  // The library whose code called the entry point is the host; opening it
  // again by its own file name with RTLD_NOLOAD gives a handle to the loaded
  // copy without loading anything.
  Dl_info info{};
  void* library = nullptr;
  if (dladdr(caller, &info) != 0 && info.dli_fname != nullptr) {
    library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  }
  void* scope = library != nullptr ? library : RTLD_DEFAULT;
  AvsApi found{};
#define ZEMIVTC_LOOK_UP(ret, slot, name, params) \
  found.slot = reinterpret_cast<decltype(found.slot)>(dlsym(scope, #name));
  ZEMIVTC_AVS_IMPORTED(ZEMIVTC_LOOK_UP)
  ZEMIVTC_AVS_LOOKED_UP(ZEMIVTC_LOOK_UP)
#undef ZEMIVTC_LOOK_UP
  // The functions stay: the host's library holds this module loaded.
  if (library != nullptr) dlclose(library);
  bool complete = true;
#define ZEMIVTC_REQUIRE(ret, slot, name, params) complete = complete && found.slot != nullptr;
  ZEMIVTC_AVS_IMPORTED(ZEMIVTC_REQUIRE)
#undef ZEMIVTC_REQUIRE
  if (complete) api = found;
  return complete;
}

bool IsRegularFilePath(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int CreateOutputFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }

bool WriteOutput(int fd, const void* bytes, uint32_t count) {
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t n = write(fd, at, count);
    if (n <= 0) return false;
    at += n;
    count -= static_cast<uint32_t>(n);
  }
  return true;
}

bool CloseOutput(int fd) { return close(fd) == 0; }
