// What the Windows test programs (the interface host, the AviSynth client)
// take from KERNEL32.dll and MSVCRT.dll, declared here because the Windows
// build has no C library headers, and the few pieces every such program
// needs: output, counted checks, files, the C++ runtime's few pieces, and an
// entry point that asks MSVCRT.dll for the arguments (no C runtime start-up
// runs before it).
#ifndef ZEMIVTC_TESTS_ABI_WIN_RUNTIME_H
#define ZEMIVTC_TESTS_ABI_WIN_RUNTIME_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* path);
__declspec(dllimport) void* __stdcall LoadLibraryExA(const char* path, void* file, unsigned long flags);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) int __stdcall CloseHandle(void* object);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

__declspec(dllimport) void* __cdecl malloc(size_t size);
__declspec(dllimport) void __cdecl free(void* block);
__declspec(dllimport) void* __cdecl memcpy(void* dst, const void* src, size_t count);
__declspec(dllimport) void* __cdecl memset(void* dst, int value, size_t count);
__declspec(dllimport) int __cdecl memcmp(const void* a, const void* b, size_t count);
__declspec(dllimport) size_t __cdecl strlen(const char* s);
__declspec(dllimport) int __cdecl strcmp(const char* a, const char* b);
__declspec(dllimport) int __cdecl _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
__declspec(dllimport) int __cdecl _open(const char* path, int flags, ...);
__declspec(dllimport) int __cdecl _read(int fd, void* buffer, unsigned count);
__declspec(dllimport) int __cdecl _write(int fd, const void* buffer, unsigned count);
__declspec(dllimport) int __cdecl _close(int fd);
__declspec(dllimport) int __cdecl _unlink(const char* path);
__declspec(dllimport) void __cdecl exit(int status);
__declspec(dllimport) void __cdecl abort(void);
struct StartupInfo {
  int newMode;
};
__declspec(dllimport) int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int wildcards, StartupInfo* info);
}

namespace winrt {

constexpr int kOpenWrite = 0x0001 | 0x0100 | 0x0200 | 0x8000;  // _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY
constexpr int kOpenRead = 0x0000 | 0x8000;                     // _O_RDONLY | _O_BINARY
constexpr int kReadWriteMode = 0x0100 | 0x0080;                // _S_IREAD | _S_IWRITE

inline void Print(int fd, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(text, sizeof text - 1, format, args);
  va_end(args);
  if (n < 0 || n > static_cast<int>(sizeof text) - 1) n = static_cast<int>(sizeof text) - 1;
  _write(fd, text, static_cast<unsigned>(n));
}

// Counted checks: the first failures are printed with the group they belong to.
struct Tally {
  int checks = 0;
  int failures = 0;
  const char* group = "";
};
inline Tally tally;

inline bool Check(bool ok, const char* what, int line) {
  ++tally.checks;
  if (!ok) {
    ++tally.failures;
    if (tally.failures <= 60) Print(2, "FAILED [%s] line %d: %s\n", tally.group, line, what);
  }
  return ok;
}

inline bool SameText(const char* a, const char* b) { return a != nullptr && b != nullptr && strcmp(a, b) == 0; }

inline bool WriteWholeFile(const char* path, const void* bytes, unsigned count) {
  const int fd = _open(path, kOpenWrite, kReadWriteMode);
  if (fd < 0) return false;
  const bool ok = count == 0 || _write(fd, bytes, count) == static_cast<int>(count);
  return _close(fd) == 0 && ok;
}

// `dir` + '/' + `name` in a block kept for the whole run.
inline const char* JoinPath(const char* dir, const char* name) {
  const size_t n = strlen(dir);
  char* path = static_cast<char*>(malloc(n + strlen(name) + 2));
  memcpy(path, dir, n);
  path[n] = '/';
  memcpy(path + n + 1, name, strlen(name) + 1);
  return path;
}

}  // namespace winrt

#define CHECK(cond) winrt::Check((cond), #cond, __LINE__)

// The C++ runtime pieces a program built without any library needs: new and
// delete on MSVCRT.dll's heap, the floating-point marker and
// std::terminate, and `table`, an empty stand-in for type_info's virtual
// table (the program's link maps the compiler's name onto it; nothing calls
// through it).
#define WINRT_RUNTIME(table)                                             \
  void* operator new(size_t bytes) { return malloc(bytes ? bytes : 1); } \
  void operator delete(void* block) noexcept { free(block); }            \
  void operator delete(void* block, size_t) noexcept { free(block); }    \
  extern "C" {                                                           \
  extern const void* const table[2] = {nullptr, nullptr};                \
  int _fltused = 0x9875;                                                 \
  void __cdecl __std_terminate(void) { abort(); }                        \
  }

// The program's entry: defines the process entry point `start`, which
// collects the arguments and exits with main's status.
#define WINRT_ENTRY(start, main)                 \
  extern "C" void __cdecl start(void) {          \
    int argc = 0;                                \
    char** argv = nullptr;                       \
    char** env = nullptr;                        \
    StartupInfo info{0};                         \
    __getmainargs(&argc, &argv, &env, 0, &info); \
    exit(main(argc, argv));                      \
  }

#endif
