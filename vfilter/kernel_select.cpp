// Run-time choice of the kernel: the widest instruction set the processor
// and the operating system support, decided once and cached.
#include <stdint.h>

#if defined(ZEMIVTC_X86)
#include <cpuid.h>
#endif

#include "platform/test_hooks.h"
#include "vfilter/kernel_internal.h"
#include "vfilter/vertical_filter.h"

namespace {

#if defined(ZEMIVTC_X86)
// AVX2 needs the instructions (leaf 7) and the operating system's saving of
// the 256-bit registers (XCR0 bits 1 and 2, readable when OSXSAVE is set).
bool ProcessorHasAvx2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
  unsigned xcr0Low, xcr0High;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 6u) != 6u) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX2) != 0;
}

bool ProcessorHasSse2() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
}
#endif

bool ProcessorHas(KernelIsa isa) {
  switch (isa) {
    case KernelIsa::Scalar: return true;
#if defined(ZEMIVTC_X86)
    case KernelIsa::Sse2: return ProcessorHasSse2();
    case KernelIsa::Avx2: return ProcessorHasAvx2();
#else
    case KernelIsa::Sse2:
    case KernelIsa::Avx2: return false;
#endif
  }
  return false;
}

KernelIsa DetectIsa() {
  KernelIsa best = KernelIsa::Scalar;
  if (ProcessorHas(KernelIsa::Avx2)) {
    best = KernelIsa::Avx2;
  } else if (ProcessorHas(KernelIsa::Sse2)) {
    best = KernelIsa::Sse2;
  }
#ifdef ZEMIVTC_TEST_HOOKS
  const int cap = platform::TestKernelCap();
  if (cap >= 0 && cap < static_cast<int>(best)) best = static_cast<KernelIsa>(cap);
#endif
  return best;
}

// -1 until the first query. Every thread that races to fill it stores the
// same value; no guard variable, so nothing needs the C++ runtime.
int32_t selectedIsa = -1;

}  // namespace

KernelIsa SelectedKernelIsa() {
  int32_t isa = __atomic_load_n(&selectedIsa, __ATOMIC_RELAXED);
  if (isa < 0) {
    isa = static_cast<int32_t>(DetectIsa());
    __atomic_store_n(&selectedIsa, isa, __ATOMIC_RELAXED);
  }
  return static_cast<KernelIsa>(isa);
}

VerticalFilterFn KernelFor(KernelIsa isa) {
  if (!ProcessorHas(isa)) return nullptr;
  switch (isa) {
    case KernelIsa::Scalar: return VerticalFilterKernelScalar;
#if defined(ZEMIVTC_X86)
    case KernelIsa::Sse2: return VerticalFilterKernelSse2;
    case KernelIsa::Avx2: return VerticalFilterKernelAvx2;
#else
    default: return nullptr;
#endif
  }
  return nullptr;
}

VerticalFilterBytesFn BytesKernelFor(KernelIsa isa) {
  if (!ProcessorHas(isa)) return nullptr;
  switch (isa) {
    case KernelIsa::Scalar: return VerticalFilterBytesScalar;
#if defined(ZEMIVTC_X86)
    case KernelIsa::Sse2: return VerticalFilterBytesSse2;
    case KernelIsa::Avx2: return VerticalFilterBytesAvx2;
#else
    default: return nullptr;
#endif
  }
  return nullptr;
}

const char* KernelName(KernelIsa isa) {
  switch (isa) {
    case KernelIsa::Scalar: return "scalar";
    case KernelIsa::Sse2: return "sse2";
    case KernelIsa::Avx2: return "avx2";
  }
  return "unknown";
}

void VerticalFilterKernel(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                          const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  switch (SelectedKernelIsa()) {
#if defined(ZEMIVTC_X86)
    case KernelIsa::Avx2: VerticalFilterKernelAvx2(src, dst, width, rows, taps, offsets, coeffs, dstStride); return;
    case KernelIsa::Sse2: VerticalFilterKernelSse2(src, dst, width, rows, taps, offsets, coeffs, dstStride); return;
#endif
    default: VerticalFilterKernelScalar(src, dst, width, rows, taps, offsets, coeffs, dstStride); return;
  }
}

void VerticalFilterBytes(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                         const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  switch (SelectedKernelIsa()) {
#if defined(ZEMIVTC_X86)
    case KernelIsa::Avx2: VerticalFilterBytesAvx2(src, dst, rowBytes, rows, taps, offsets, coeffs, dstStride); return;
    case KernelIsa::Sse2: VerticalFilterBytesSse2(src, dst, rowBytes, rows, taps, offsets, coeffs, dstStride); return;
#endif
    default: VerticalFilterBytesScalar(src, dst, rowBytes, rows, taps, offsets, coeffs, dstStride); return;
  }
}
