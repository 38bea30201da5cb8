// Kernel services for systems other than Windows, built on the C++ standard
// library and POSIX so that they behave as the Win32 calls do.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {

// Linux gives at most this much to one read() call; asking for less keeps
// the count representable as an int.
constexpr uint32_t MaxReadChunk = 0x7ffff000u;

}  // namespace

int ProcessorCount() {
#ifdef ZEMIVTC_TEST_HOOKS
  if (int forced = TestProcessorCount()) return forced;
#endif
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  if (count < 1) return 1;
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

// An auto-reset event. A set either hands a release to a thread already
// waiting (one release per set, as Win32 does even when the sets come faster
// than the waiters wake) or, with nobody waiting, leaves the event signalled
// for the next wait.
struct Event {
  std::mutex mutex;
  std::condition_variable wake;
  bool signalled = false;
  int waiting = 0;   // threads inside WaitForEvent
  int releases = 0;  // sets handed to waiting threads, not yet taken
};

Event* CreateAutoResetEvent() { return new (std::nothrow) Event; }

void SetEvent(Event* event) {
  if (event == nullptr) return;
  std::lock_guard<std::mutex> lock(event->mutex);
  if (event->waiting > event->releases) {
    ++event->releases;
    event->wake.notify_one();
  } else {
    event->signalled = true;
  }
}

bool WaitForEvent(Event* event, int timeoutMs) {
  if (event == nullptr) return false;
  std::unique_lock<std::mutex> lock(event->mutex);
  if (event->signalled) {
    event->signalled = false;
    return true;
  }
  // Negative time-outs other than Infinite are a caller's slip: poll once
  // rather than block for ever.
  if (timeoutMs != Infinite && timeoutMs <= 0) return false;
  ++event->waiting;
  auto released = [event] { return event->releases > 0; };
  bool got;
  if (timeoutMs == Infinite) {
    event->wake.wait(lock, released);
    got = true;
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    got = event->wake.wait_until(lock, deadline, released);
  }
  --event->waiting;
  if (got) --event->releases;
  return got;
}

void CloseEvent(Event* event) { delete event; }

EventState InspectEvent(Event* event) {
  if (event == nullptr) return {0, 0, false};
  std::lock_guard<std::mutex> lock(event->mutex);
  return {event->waiting, event->releases, event->signalled};
}

struct Thread {
  std::thread thread;
};

Thread* StartThread(ThreadRoutine routine, void* arg) {
  if (routine == nullptr) return nullptr;
  Thread* handle = new (std::nothrow) Thread;
  if (handle == nullptr) return nullptr;
  try {
    handle->thread = std::thread([routine, arg] { routine(arg); });
  } catch (const std::system_error&) {
    delete handle;
    return nullptr;
  }
  return handle;
}

void JoinThread(Thread* thread) {
  if (thread == nullptr) return;
  if (thread->thread.joinable()) thread->thread.join();
  delete thread;
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;  // |a * b| <= 2^62: no overflow
  bool negative = (product < 0) != (c < 0);
  uint64_t magnitude = product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
  uint64_t divisor = c < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(c)) : static_cast<uint64_t>(c);
  // Adding half the divisor before dividing rounds halves away from zero.
  uint64_t quotient = (magnitude + divisor / 2) / divisor;
  if (negative) {
    if (quotient > static_cast<uint64_t>(INT_MAX) + 1) return -1;
    return static_cast<int>(-static_cast<int64_t>(quotient));
  }
  if (quotient > static_cast<uint64_t>(INT_MAX)) return -1;
  return static_cast<int>(quotient);
}

int OpenForReading(const char* path) {
  if (path == nullptr) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  // open() succeeds on a directory; the Windows runtime refuses one, and a
  // directory is never a file to read.
  struct stat info;
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int64_t FileLength(int fd) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool IsRegularFile(int fd) {
  struct stat info;
  return fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

int ReadOnce(int fd, void* buffer, uint32_t count) {
  if (fd < 0 || (buffer == nullptr && count != 0)) return -1;
  if (count > MaxReadChunk) count = MaxReadChunk;
  for (;;) {
    ssize_t got = read(fd, buffer, count);
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

void CloseFile(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace platform
