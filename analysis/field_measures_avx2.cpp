// The field measures' loops sixteen samples at a time (built with -mavx2;
// called only where the processor has AVX2). The sums are those of the
// plain loops in field_measures.cpp, lane for lane.
#include <immintrin.h>

#include "analysis/field_measures_rows.h"

namespace analysis {
namespace rows {
namespace {

inline __m256i Load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

inline __m256i SecondV(__m256i a, __m256i above, __m256i below) {
  return _mm256_sub_epi16(_mm256_add_epi16(a, a), _mm256_add_epi16(above, below));
}
// Squares of sixteen 16-bit values, summed in pairs into eight 32-bit lanes.
inline __m256i SquaresV(__m256i v) { return _mm256_madd_epi16(v, v); }

inline __m256i WeaveV(__m256i x1, __m256i x2, __m256i y0, __m256i y1) {
  return _mm256_add_epi32(SquaresV(SecondV(x1, y0, y1)), SquaresV(SecondV(y1, x1, x2)));
}

inline int64_t Total(__m256i v) {
  alignas(32) uint32_t lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
  int64_t sum = 0;
  for (uint32_t lane : lanes) sum += lane;
  return sum;
}

}  // namespace

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

// One block at a time, all its row pairs: seven accumulators stay in
// registers. Every lane stays below 2^31, as in the SSE2 loop: a block row
// adds at most 32 pair-sums of squares of second differences (each under
// 2 * 2040^2) to a lane.
void AddBlockRowAvx2(const uint16_t* prev, const uint16_t* cur, ptrdiff_t pitch, int i0, int i1, int rowPairs,
                     int blocks, Totals* totals) {
  for (int b = 0; b < blocks; ++b) {
    const int x = 16 * b;
    __m256i selfTop = _mm256_setzero_si256(), selfBottom = selfTop, own = selfTop, weaveTop = selfTop,
            weaveBottom = selfTop, changeTop = selfTop, changeBottom = selfTop;
    for (int i = i0; i < i1; ++i) {
      const RowSet r = RowSetAt(prev, cur, pitch, i, rowPairs);
      const __m256i ct1 = Load(r.ct1 + x), cb1 = Load(r.cb1 + x);
      if (r.inner) {
        const __m256i ct0 = Load(r.ct0 + x), ct2 = Load(r.ct2 + x), cb0 = Load(r.cb0 + x), cb2 = Load(r.cb2 + x);
        selfTop = _mm256_add_epi32(selfTop, SquaresV(SecondV(ct1, ct0, ct2)));
        selfBottom = _mm256_add_epi32(selfBottom, SquaresV(SecondV(cb1, cb0, cb2)));
        own = _mm256_add_epi32(own, WeaveV(ct1, ct2, cb0, cb1));
        if (r.pair) {
          const __m256i pt2 = Load(r.pt2 + x), pb0 = Load(r.pb0 + x), pt1 = Load(r.pt1 + x), pb1 = Load(r.pb1 + x);
          weaveTop = _mm256_add_epi32(weaveTop, WeaveV(ct1, ct2, pb0, pb1));
          weaveBottom = _mm256_add_epi32(weaveBottom, WeaveV(pt1, pt2, cb0, cb1));
        }
      }
      if (r.pair) {
        const __m256i pt1 = Load(r.pt1 + x), pb1 = Load(r.pb1 + x);
        changeTop = _mm256_add_epi32(changeTop, SquaresV(_mm256_sub_epi16(ct1, pt1)));
        changeBottom = _mm256_add_epi32(changeBottom, SquaresV(_mm256_sub_epi16(cb1, pb1)));
      }
    }
    Totals& t = totals[b];
    t.selfTop += Total(selfTop);
    t.selfBottom += Total(selfBottom);
    t.weave += Total(own);
    t.weaveTopFirst += Total(weaveTop);
    t.weaveBottomFirst += Total(weaveBottom);
    t.changeTop += Total(changeTop);
    t.changeBottom += Total(changeBottom);
  }
}

int ReduceRowAvx2(const uint8_t* row, int samples, uint16_t* out) {
  const __m256i low = _mm256_set1_epi16(0x00FF), ones = _mm256_set1_epi16(1);
  int j = 0;
  for (; j + 16 <= samples; j += 16) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * j));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * j + 32));
    // Byte pairs, then pairs of pairs: eight sums in each 128-bit half.
    const __m256i p0 = _mm256_madd_epi16(_mm256_add_epi16(_mm256_and_si256(v0, low), _mm256_srli_epi16(v0, 8)), ones);
    const __m256i p1 = _mm256_madd_epi16(_mm256_add_epi16(_mm256_and_si256(v1, low), _mm256_srli_epi16(v1, 8)), ones);
    // packs works within each half: reorder the quarters into row order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(p0, p1), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), packed);
  }
  return j;
}

}  // namespace rows
}  // namespace analysis
