// SSE2 kernel: 16 bytes a step in 16-bit lanes, the same per-lane arithmetic
// as the scalar definition (widen, shift left 7, high half of the signed
// product, saturating add, arithmetic shift right 6, saturating pack).
#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "vfilter/kernel_internal.h"
#include "vfilter/vertical_filter.h"

namespace {

// Weighted samples of 8 widened bytes: high half of (b << 7) * q per lane.
inline __m128i WeightedSamples(__m128i widened, __m128i weight) {
  return _mm_mulhi_epi16(_mm_slli_epi16(widened, 7), weight);
}

// Adds the weighted samples of 16 bytes into lo (bytes 0-7) and hi (8-15).
inline void Accumulate(__m128i bytes, __m128i weight, __m128i& lo, __m128i& hi) {
  const __m128i zero = _mm_setzero_si128();
  lo = _mm_adds_epi16(lo, WeightedSamples(_mm_unpacklo_epi8(bytes, zero), weight));
  hi = _mm_adds_epi16(hi, WeightedSamples(_mm_unpackhi_epi8(bytes, zero), weight));
}

// Drops the 6 fractional bits (rounding down) and packs to bytes 0 to 255.
inline __m128i ToBytes(__m128i lo, __m128i hi) {
  return _mm_packus_epi16(_mm_srai_epi16(lo, 6), _mm_srai_epi16(hi, 6));
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// One output row. With kTaps > 0 the tap rows and weights are held in
// registers for the whole row (stores through dst could otherwise alias the
// table and force reloads); kTaps 0 walks a runtime tap count.
template <int kTaps>
void FilterRow(const uint8_t* src, uint8_t* dstRow, ptrdiff_t rowBytes, int32_t taps, const int32_t* offsets,
               const CoefficientWord* coeffs, const uint8_t* aheadSrc, uint8_t* aheadDst) {
  constexpr int kHeld = kTaps > 0 ? kTaps : 1;
  const int32_t count = kTaps > 0 ? kTaps : taps;
  const uint8_t* heldRow[kHeld];
  __m128i heldWeight[kHeld];
  if constexpr (kTaps > 0) {
    for (int j = 0; j < kTaps; ++j) {
      heldRow[j] = src + offsets[j];
      heldWeight[j] = _mm_set1_epi64x(static_cast<long long>(coeffs[j]));
    }
  }
  auto tapRow = [&](int32_t j) {
    if constexpr (kTaps > 0)
      return heldRow[j];
    else
      return src + offsets[j];
  };
  auto tapWeight = [&](int32_t j) {
    if constexpr (kTaps > 0)
      return heldWeight[j];
    else
      return _mm_set1_epi64x(static_cast<long long>(coeffs[j]));
  };

  ptrdiff_t x = 0;
  // Two vectors a step: four independent accumulators.
  for (; x + 32 <= rowBytes; x += 32) {
    _mm_prefetch(reinterpret_cast<const char*>(aheadSrc + x), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(aheadDst + x), _MM_HINT_T0);
    __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
    for (int32_t j = 0; j < count; ++j) {
      const uint8_t* p = tapRow(j) + x;
      const __m128i weight = tapWeight(j);
      Accumulate(Load(p), weight, a0, a1);
      Accumulate(Load(p + 16), weight, a2, a3);
    }
    Store(dstRow + x, ToBytes(a0, a1));
    Store(dstRow + x + 16, ToBytes(a2, a3));
  }
  if (x + 16 <= rowBytes) {
    __m128i a0 = _mm_setzero_si128(), a1 = a0;
    for (int32_t j = 0; j < count; ++j) Accumulate(Load(tapRow(j) + x), tapWeight(j), a0, a1);
    Store(dstRow + x, ToBytes(a0, a1));
    x += 16;
  }
  // Fewer than 16 bytes left: a vector load would read past the row.
  VerticalFilterSpanScalar(src, dstRow, x, rowBytes, count, offsets, coeffs);
}

constexpr int32_t kPrefetchRows = 2;  // rows between a prefetch and its use

typedef void (*RowFilter)(const uint8_t*, uint8_t*, ptrdiff_t, int32_t, const int32_t*, const CoefficientWord*,
                          const uint8_t*, uint8_t*);

RowFilter RowFilterFor(int32_t taps) {
  switch (taps) {
    case 1: return FilterRow<1>;
    case 2: return FilterRow<2>;
    case 3: return FilterRow<3>;
    case 4: return FilterRow<4>;
    case 5: return FilterRow<5>;
    case 6: return FilterRow<6>;
    case 7: return FilterRow<7>;
    case 8: return FilterRow<8>;
    default: return FilterRow<0>;
  }
}

void FilterRows(const uint8_t* src, uint8_t* dst, ptrdiff_t rowBytes, int32_t rows, int32_t taps,
                const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  if (rowBytes < 1 || rows < 1 || taps < 1) return;
  const RowFilter filterRow = RowFilterFor(taps);
  for (int32_t r = 0; r < rows; ++r) {
    // The last tap of a row a few rows down is usually a source row not read
    // yet: fetch it, and that row's output bytes, while this row computes.
    const int32_t ahead = r + kPrefetchRows < rows ? kPrefetchRows : 0;
    const uint8_t* aheadSrc = src + offsets[ahead * taps + taps - 1];
    uint8_t* const dstRow = dst + r * static_cast<ptrdiff_t>(dstStride);
    filterRow(src, dstRow, rowBytes, taps, offsets, coeffs, aheadSrc,
              dstRow + ahead * static_cast<ptrdiff_t>(dstStride));
    offsets += taps;
    coeffs += taps;
  }
}

}  // namespace

void VerticalFilterKernelSse2(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                              const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  FilterRows(src, dst, 2 * static_cast<ptrdiff_t>(width), rows, taps, offsets, coeffs, dstStride);
}

void VerticalFilterBytesSse2(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                             const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride) {
  FilterRows(src, dst, rowBytes, rows, taps, offsets, coeffs, dstStride);
}
