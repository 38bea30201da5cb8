// Kernel services for the Windows module: thin wrappers over KERNEL32.dll and
// the low-level file input of MSVCRT.dll. The module is built without
// Windows' or the C runtime's headers, so the few calls it makes are declared
// here with their documented signatures.
#include <stddef.h>
#include <stdint.h>

#include "platform/crt.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

typedef void* Handle;
typedef unsigned long Dword;
typedef Dword(__stdcall* ThreadStartRoutine)(void* parameter);

// GetSystemInfo's record, as Windows lays it out.
struct SystemInfo {
  uint16_t processorArchitecture;
  uint16_t reserved;
  Dword pageSize;
  void* minimumApplicationAddress;
  void* maximumApplicationAddress;
  uintptr_t activeProcessorMask;
  Dword numberOfProcessors;
  Dword processorType;
  Dword allocationGranularity;
  uint16_t processorLevel;
  uint16_t processorRevision;
};

constexpr Dword kInfinite = 0xFFFFFFFFu;
constexpr Dword kWaitObject0 = 0;
constexpr Dword kFileTypeDisk = 1;
constexpr int kOpenReadOnly = 0x0000;  // _O_RDONLY
constexpr int kOpenBinary = 0x8000;    // _O_BINARY: no CR LF or ^Z translation

}  // namespace

extern "C" {
__declspec(dllimport) void __stdcall GetSystemInfo(SystemInfo* info);
__declspec(dllimport) Handle
    __stdcall CreateEventA(void* attributes, int manualReset, int initialState, const char* name);
__declspec(dllimport) int __stdcall SetEvent(Handle event);
__declspec(dllimport) Dword __stdcall WaitForSingleObject(Handle object, Dword milliseconds);
__declspec(dllimport) Handle __stdcall CreateThread(void* attributes, size_t stackSize, ThreadStartRoutine start,
                                                    void* parameter, Dword flags, Dword* threadId);
__declspec(dllimport) int __stdcall CloseHandle(Handle object);
__declspec(dllimport) int __stdcall MulDiv(int number, int numerator, int denominator);
__declspec(dllimport) Dword __stdcall GetFileType(Handle file);

__declspec(dllimport) int __cdecl _open(const char* path, int flags, ...);
__declspec(dllimport) int __cdecl _read(int fd, void* buffer, unsigned count);
__declspec(dllimport) int __cdecl _close(int fd);
__declspec(dllimport) int64_t __cdecl _filelengthi64(int fd);
__declspec(dllimport) intptr_t __cdecl _get_osfhandle(int fd);
}

namespace platform {

namespace {

// The routine and argument, carried to the new thread on the heap because
// ThreadRoutine's signature differs from the one CreateThread calls.
struct ThreadStart {
  ThreadRoutine routine;
  void* arg;
};

Dword __stdcall ThreadTrampoline(void* param) {
  ThreadStart start = *static_cast<ThreadStart*>(param);
  free(param);
  return static_cast<Dword>(start.routine(start.arg));
}

// _read takes at most INT_MAX bytes per call.
constexpr uint32_t MaxReadChunk = 0x7ffff000u;

}  // namespace

int ProcessorCount() {
#ifdef ZEMIVTC_TEST_HOOKS
  if (int forced = TestProcessorCount()) return forced;
#endif
  SystemInfo info;
  GetSystemInfo(&info);
  if (info.numberOfProcessors < 1) return 1;
  return info.numberOfProcessors > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(info.numberOfProcessors);
}

// An Event* is the Win32 event handle itself.
Event* CreateAutoResetEvent() { return static_cast<Event*>(CreateEventA(nullptr, 0, 0, nullptr)); }

void SetEvent(Event* event) {
  if (event != nullptr) ::SetEvent(event);
}

bool WaitForEvent(Event* event, int timeoutMs) {
  if (event == nullptr) return false;
  // Negative time-outs other than Infinite poll once, as on other systems.
  const Dword wait = timeoutMs == Infinite ? kInfinite : timeoutMs < 0 ? 0 : static_cast<Dword>(timeoutMs);
  return WaitForSingleObject(event, wait) == kWaitObject0;
}

void CloseEvent(Event* event) {
  if (event != nullptr) CloseHandle(event);
}

// A Thread* is the Win32 thread handle itself. CreateThread needs none of the
// C runtime's per-thread set-up: the workers call nothing that keeps
// per-thread state in the runtime.
Thread* StartThread(ThreadRoutine routine, void* arg) {
  if (routine == nullptr) return nullptr;
  ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
  if (start == nullptr) return nullptr;
  start->routine = routine;
  start->arg = arg;
  Handle thread = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (thread == nullptr) {
    free(start);
    return nullptr;
  }
  return static_cast<Thread*>(thread);
}

void JoinThread(Thread* thread) {
  if (thread == nullptr) return;
  WaitForSingleObject(thread, kInfinite);
  CloseHandle(thread);
}

int MulDiv(int a, int b, int c) { return ::MulDiv(a, b, c); }

int OpenForReading(const char* path) {
  if (path == nullptr) return -1;
  // _open refuses directories itself and never creates without _O_CREAT.
  return _open(path, kOpenReadOnly | kOpenBinary);
}

int64_t FileLength(int fd) {
  if (fd < 0) return -1;
  return _filelengthi64(fd);
}

// A disk file has a length; pipes and character devices (the console, NUL)
// do not.
bool IsRegularFile(int fd) {
  if (fd < 0) return false;
  const intptr_t handle = _get_osfhandle(fd);
  return handle != -1 && GetFileType(reinterpret_cast<Handle>(handle)) == kFileTypeDisk;
}

int ReadOnce(int fd, void* buffer, uint32_t count) {
  if (fd < 0 || (buffer == nullptr && count != 0)) return -1;
  if (count > MaxReadChunk) count = MaxReadChunk;
  return _read(fd, buffer, count);
}

void CloseFile(int fd) {
  if (fd >= 0) _close(fd);
}

}  // namespace platform
