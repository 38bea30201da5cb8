// Kernel services for the Windows build: thin wrappers over Win32 and the C
// runtime's low-level file input.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {

// The routine and argument, carried to the new thread on the heap because
// ThreadRoutine's signature differs from the one CreateThread calls.
struct ThreadStart {
  ThreadRoutine routine;
  void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID param) {
  ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return static_cast<DWORD>(start.routine(start.arg));
}

// _read takes at most INT_MAX bytes per call.
constexpr uint32_t MaxReadChunk = 0x7ffff000u;

}  // namespace

int ProcessorCount() {
#ifdef ZEMIVTC_TEST_HOOKS
  if (int forced = TestProcessorCount()) return forced;
#endif
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  if (info.dwNumberOfProcessors < 1) return 1;
  return info.dwNumberOfProcessors > INT_MAX ? INT_MAX : static_cast<int>(info.dwNumberOfProcessors);
}

// An Event* is the Win32 event handle itself.
Event* CreateAutoResetEvent() { return reinterpret_cast<Event*>(CreateEventA(nullptr, FALSE, FALSE, nullptr)); }

void SetEvent(Event* event) {
  if (event != nullptr) ::SetEvent(reinterpret_cast<HANDLE>(event));
}

bool WaitForEvent(Event* event, int timeoutMs) {
  if (event == nullptr) return false;
  // Negative time-outs other than Infinite poll once, as on other systems.
  DWORD wait = timeoutMs == Infinite ? INFINITE : timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(reinterpret_cast<HANDLE>(event), wait) == WAIT_OBJECT_0;
}

void CloseEvent(Event* event) {
  if (event != nullptr) CloseHandle(reinterpret_cast<HANDLE>(event));
}

// A Thread* is the Win32 thread handle itself.
Thread* StartThread(ThreadRoutine routine, void* arg) {
  if (routine == nullptr) return nullptr;
  ThreadStart* start = new (std::nothrow) ThreadStart{routine, arg};
  if (start == nullptr) return nullptr;
  HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  return reinterpret_cast<Thread*>(thread);
}

void JoinThread(Thread* thread) {
  if (thread == nullptr) return;
  WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

int MulDiv(int a, int b, int c) { return ::MulDiv(a, b, c); }

int OpenForReading(const char* path) {
  if (path == nullptr) return -1;
  // _open refuses directories itself (EACCES) and never creates without _O_CREAT.
  return _open(path, _O_RDONLY | _O_BINARY);
}

int64_t FileLength(int fd) {
  if (fd < 0) return -1;
  return _filelengthi64(fd);
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
