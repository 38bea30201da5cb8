// The reference kernel: the fixed-point definition, one byte at a time. The
// vector kernels must produce exactly these bytes.
#include <stddef.h>
#include <stdint.h>

#include "vfilter/kernel_internal.h"
#include "vfilter/vertical_filter.h"

namespace {

// The weight sits in the low lane of the word (all four lanes are equal).
int32_t WeightOf(CoefficientWord word) { return static_cast<int16_t>(static_cast<uint16_t>(word)); }

// High half of (b << 7) * q, that is floor(b * q / 512): the weighted sample
// with 6 fractional bits. The shift of a negative product rounds down.
int32_t WeightedSample(uint8_t b, int32_t q) { return (static_cast<int32_t>(b) * 128 * q) >> 16; }

int32_t SaturatingAdd16(int32_t acc, int32_t p) {
  const int32_t sum = acc + p;
  return sum < -32768 ? -32768 : (sum > 32767 ? 32767 : sum);
}

// Drops the 6 fractional bits (rounding down) and clamps to a byte.
uint8_t ToByte(int32_t acc) {
  const int32_t value = acc >> 6;
  return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

}  // namespace

void VerticalFilterSpanScalar(const uint8_t* src, uint8_t* dstRow, ptrdiff_t begin, ptrdiff_t end, int32_t taps,
                              const int32_t* offsets, const CoefficientWord* coeffs) {
  for (ptrdiff_t x = begin; x < end; ++x) {
    int32_t acc = 0;
    for (int32_t j = 0; j < taps; ++j) {
      acc = SaturatingAdd16(acc, WeightedSample(src[offsets[j] + x], WeightOf(coeffs[j])));
    }
    dstRow[x] = ToByte(acc);
  }
}

namespace {

void FilterRows(const uint8_t* src, uint8_t* dst, ptrdiff_t rowBytes, int32_t rows, int32_t taps,
                const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  if (rowBytes < 1 || rows < 1 || taps < 1) return;
  for (int32_t r = 0; r < rows; ++r) {
    VerticalFilterSpanScalar(src, dst + r * static_cast<ptrdiff_t>(dstStride), 0, rowBytes, taps, offsets, coeffs);
    offsets += taps;
    coeffs += taps;
  }
}

}  // namespace

void VerticalFilterKernelScalar(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                                const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  FilterRows(src, dst, 2 * static_cast<ptrdiff_t>(width), rows, taps, offsets, coeffs, dstStride);
}

void VerticalFilterBytesScalar(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                               const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  FilterRows(src, dst, rowBytes, rows, taps, offsets, coeffs, dstStride);
}
