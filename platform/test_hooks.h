// Test builds of the module (ZEMIVTC_TEST_HOOKS) take the processor count from
// the environment, so tests can run the filter with any number of workers.
// Product builds never read it.
#ifndef ZEMIVTC_PLATFORM_TEST_HOOKS_H
#define ZEMIVTC_PLATFORM_TEST_HOOKS_H

#ifdef ZEMIVTC_TEST_HOOKS
#include <cerrno>
#include <cstdlib>

namespace platform {

// The count a test asks for through ZEMIVTC_TEST_PROCESSORS, or 0 when the
// variable is absent or not a whole number from 1 to 1024.
inline int TestProcessorCount() {
  const char* text = std::getenv("ZEMIVTC_TEST_PROCESSORS");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > 1024) return 0;
  return static_cast<int>(value);
}

}  // namespace platform
#endif

#endif
