// Kernel services the filter needs: processor count, auto-reset events,
// threads, MulDiv and low-level binary file input. The Windows build calls
// Win32 and the C runtime; other systems get a portable layer that behaves
// the same way.
#ifndef ZEMIVTC_PLATFORM_PLATFORM_H
#define ZEMIVTC_PLATFORM_PLATFORM_H

#include <stdint.h>

namespace platform {

// Processors the system reports, at least 1. Test builds of the module may
// take the count from the environment variable ZEMIVTC_TEST_PROCESSORS.
int ProcessorCount();

// Auto-reset event, created not set. Setting it releases one waiter and
// resets it; a set with no waiter is kept until the next wait, and several
// sets before that wait count as one.
struct Event;
Event* CreateAutoResetEvent();  // null on failure
void SetEvent(Event* event);
enum : int { Infinite = -1 };
// Waits until the event is set or timeoutMs passes (Infinite: no limit).
// Returns true when it was the event.
bool WaitForEvent(Event* event, int timeoutMs);
void CloseEvent(Event* event);
#ifndef _WIN32
// What an event holds, for tests that must know, rather than guess from the
// clock, that threads are blocked on it: the threads inside WaitForEvent, the
// releases handed to them and not yet taken, and whether a set is kept for
// the next wait. A thread blocked with nothing handed to it shows as
// waiting > releases.
struct EventState {
  int waiting;
  int releases;
  bool signalled;
};
EventState InspectEvent(Event* event);
#endif

// A thread that starts running routine(arg) at once.
struct Thread;
typedef unsigned (*ThreadRoutine)(void* arg);
Thread* StartThread(ThreadRoutine routine, void* arg);  // null on failure
// Waits for the thread to end and releases its handle.
void JoinThread(Thread* thread);

// a * b / c with a 64-bit product, rounded to nearest, halves away from zero;
// -1 when c is 0 or the result does not fit in 32 bits.
int MulDiv(int a, int b, int c);

// Low-level binary file input. A directory, or a path that does not exist,
// cannot be opened; opening never creates.
int OpenForReading(const char* path);                // -1 on failure
int64_t FileLength(int fd);                          // -1 on failure
int ReadOnce(int fd, void* buffer, uint32_t count);  // bytes read, -1 on failure
void CloseFile(int fd);
// True for a regular file, whose length FileLength reports; false for pipes,
// FIFOs, terminals and other devices, which have no length to ask for and are
// read to their end instead.
bool IsRegularFile(int fd);

}  // namespace platform

#endif
