// Run-time choice of the kernel: the widest instruction set the processor
// has, decided once and cached.
#include <cstdint>

#include "vfilter/kernel_internal.h"
#include "vfilter/vertical_filter.h"

namespace {

bool ProcessorHas(KernelIsa isa) {
  switch (isa) {
    case KernelIsa::Scalar: return true;
#if defined(ZEMIVTC_X86)
    // Checks the operating system's support for the wide registers too.
    case KernelIsa::Sse2: return __builtin_cpu_supports("sse2");
    case KernelIsa::Avx2: return __builtin_cpu_supports("avx2");
#else
    case KernelIsa::Sse2:
    case KernelIsa::Avx2: return false;
#endif
  }
  return false;
}

KernelIsa DetectIsa() {
#if defined(ZEMIVTC_X86)
  __builtin_cpu_init();
#endif
  if (ProcessorHas(KernelIsa::Avx2)) return KernelIsa::Avx2;
  if (ProcessorHas(KernelIsa::Sse2)) return KernelIsa::Sse2;
  return KernelIsa::Scalar;
}

}  // namespace

KernelIsa SelectedKernelIsa() {
  static const KernelIsa isa = DetectIsa();
  return isa;
}

VerticalFilterFn KernelFor(KernelIsa isa) {
  SelectedKernelIsa();  // runs the processor query once before the first ProcessorHas
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
  static const VerticalFilterFn kernel = KernelFor(SelectedKernelIsa());
  kernel(src, dst, width, rows, taps, offsets, coeffs, dstStride);
}
