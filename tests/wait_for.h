// Waiting for another thread in a test: never for a fixed time, always for a
// condition, under a deadline generous enough for a loaded machine. The
// caller reports the last value seen when the deadline passes.
#ifndef ZEMIVTC_TESTS_WAIT_FOR_H
#define ZEMIVTC_TESTS_WAIT_FOR_H

#include <chrono>
#include <thread>

namespace testing_support {

// Long enough that only a thread that will never get there misses it, even on
// two shared cores at a load of twenty; short enough to end a hung test.
constexpr std::chrono::seconds kGenerousDeadline{60};

// Reads `read()` until `done(value)` holds or the deadline passes; returns the
// last value read.
template <typename Read, typename Done>
auto WaitFor(Read read, Done done, std::chrono::steady_clock::duration limit = kGenerousDeadline) -> decltype(read()) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto value = read();
  while (!done(value) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    value = read();
  }
  return value;
}

}  // namespace testing_support

#endif
