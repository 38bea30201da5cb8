// Test builds of the module (ZEMIVTC_TEST_HOOKS) take settings from the
// environment, so tests can run the filter with any number of workers and
// with each kernel. Product builds never read them.
#ifndef ZEMIVTC_PLATFORM_TEST_HOOKS_H
#define ZEMIVTC_PLATFORM_TEST_HOOKS_H

#ifdef ZEMIVTC_TEST_HOOKS
#include "platform/crt.h"

namespace platform {

// ZEMIVTC_TEST_PROCESSORS: a whole number from 1 to 1024, or 0 when the
// variable is absent or anything else.
inline int TestProcessorCount() {
  const char* text = getenv("ZEMIVTC_TEST_PROCESSORS");
  if (text == nullptr || *text == '\0') return 0;
  int value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return 0;
    value = value * 10 + (*text - '0');
    if (value > 1024) return 0;
  }
  return value;
}

// ZEMIVTC_TEST_KERNEL: the widest kernel allowed, "scalar" (0), "sse2" (1)
// or "avx2" (2); -1 when the variable is absent or anything else.
inline int TestKernelCap() {
  const char* text = getenv("ZEMIVTC_TEST_KERNEL");
  if (text == nullptr) return -1;
  const char* const names[] = {"scalar", "sse2", "avx2"};
  for (int i = 0; i < 3; ++i) {
    const char* a = text;
    const char* b = names[i];
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a == '\0' && *b == '\0') return i;
  }
  return -1;
}

}  // namespace platform
#endif

#endif
