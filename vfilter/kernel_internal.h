// Pieces shared by the kernel files: the per-instruction-set entry points and
// the scalar span that every kernel uses for the bytes past its last whole
// vector step.
#ifndef ZEMIVTC_VFILTER_KERNEL_INTERNAL_H
#define ZEMIVTC_VFILTER_KERNEL_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "vfilter/vertical_filter.h"

// Filters bytes [begin, end) of one output row: reads src + offsets[j] + x and
// writes dstRow + x for those x only.
void VerticalFilterSpanScalar(const uint8_t* src, uint8_t* dstRow, ptrdiff_t begin, ptrdiff_t end, int32_t taps,
                              const int32_t* offsets, const CoefficientWord* coeffs);

#if defined(ZEMIVTC_X86)
void VerticalFilterKernelSse2(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                              const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
void VerticalFilterKernelAvx2(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                              const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
void VerticalFilterBytesSse2(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                             const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
void VerticalFilterBytesAvx2(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                             const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
#endif

#endif
