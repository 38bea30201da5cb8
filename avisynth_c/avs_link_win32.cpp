// Windows: the functions of the oldest host come from the import table (the
// loader refuses the DLL where one is missing, with the host's "error=0x7f");
// newer ones are asked of avisynth.dll by name, so the DLL still loads in a
// host that lacks them. Files go through MSVCRT.dll's low-level calls.
#include "avisynth_c/avs_link.h"

extern "C" {
#define ZEMIVTC_DECLARE_IMPORT(ret, slot, name, params) __declspec(dllimport) ret AVSC_CC name params;
ZEMIVTC_AVS_IMPORTED(ZEMIVTC_DECLARE_IMPORT)
#undef ZEMIVTC_DECLARE_IMPORT

__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __cdecl _open(const char* path, int flags, ...);
__declspec(dllimport) int __cdecl _write(int fd, const void* buffer, unsigned count);
__declspec(dllimport) int __cdecl _close(int fd);
}

// Marks a program that uses floating point (the filter tables do), for
// Microsoft's C runtime start-up code; defined here so that the link takes
// nothing of the version-2 module's C++ runtime pieces, whose exception
// handling would import __CxxFrameHandler3, which Windows XP's MSVCRT.dll
// lacks. The module throws and catches nothing.
extern "C" int _fltused = 0x9875;

bool BindHostFunctions(const void* /*caller*/, AvsApi& api) {
  void* host = GetModuleHandleA("avisynth.dll");
#define ZEMIVTC_IMPORTED(ret, slot, name, params) api.slot = name;
  ZEMIVTC_AVS_IMPORTED(ZEMIVTC_IMPORTED)
#undef ZEMIVTC_IMPORTED
#define ZEMIVTC_LOOK_UP(ret, slot, name, params) \
  api.slot = host != nullptr ? reinterpret_cast<decltype(api.slot)>(GetProcAddress(host, #name)) : nullptr;
  ZEMIVTC_AVS_LOOKED_UP(ZEMIVTC_LOOK_UP)
#undef ZEMIVTC_LOOK_UP
  return true;
}

bool IsRegularFilePath(const char* path) {
  // Pipes and devices are named \\.\...: anything else is a file on a drive.
  return !(path[0] == '\\' && path[1] == '\\' && path[2] == '.' && path[3] == '\\');
}

int CreateOutputFile(const char* path) {
  // _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, readable and writable.
  return _open(path, 0x0001 | 0x0100 | 0x0200 | 0x8000, 0x0100 | 0x0080);
}

bool WriteOutput(int fd, const void* bytes, uint32_t count) {
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    const int n = _write(fd, at, count);
    if (n <= 0) return false;
    at += n;
    count -= static_cast<uint32_t>(n);
  }
  return true;
}

bool CloseOutput(int fd) { return _close(fd) == 0; }
