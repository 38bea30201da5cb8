#include "analysis/field_measures.h"

#include <algorithm>
#include <stdexcept>

#include "analysis/field_measures_rows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace analysis {
namespace {
// A block's fields show detail of their own when it is this many times the
// noise floor; its weave combs when its comb excess exceeds that detail.
constexpr double ActiveDetail = 4;

using rows::RowSet;
using rows::Second;
using rows::Square;
using rows::Totals;
using rows::Weave;

constexpr int ChunkSamples = 8;  // one vector of 16-bit sums
constexpr int ChunksPerBlock = FieldAnalyzer::BlockSamples / ChunkSamples;

void ScalarSamples(const RowSet& r, int x0, int x1, Totals* totals) {
  for (int x = x0; x < x1; ++x) {
    Totals& t = totals[x / FieldAnalyzer::BlockSamples];
    if (r.inner) {
      t.selfTop += Square(Second(r.ct1[x], r.ct0[x], r.ct2[x]));
      t.selfBottom += Square(Second(r.cb1[x], r.cb0[x], r.cb2[x]));
      t.weave += Weave(r.ct1[x], r.ct2[x], r.cb0[x], r.cb1[x]);
      if (r.pair) {
        t.weaveTopFirst += Weave(r.ct1[x], r.ct2[x], r.pb0[x], r.pb1[x]);
        t.weaveBottomFirst += Weave(r.pt1[x], r.pt2[x], r.cb0[x], r.cb1[x]);
      }
    }
    if (r.pair) {
      t.changeTop += Square(r.ct1[x] - r.pt1[x]);
      t.changeBottom += Square(r.cb1[x] - r.pb1[x]);
    }
  }
}

#if defined(__SSE2__)
inline __m128i Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m128i SecondV(__m128i a, __m128i above, __m128i below) {
  return _mm_sub_epi16(_mm_add_epi16(a, a), _mm_add_epi16(above, below));
}
// Squares of eight 16-bit values, summed in pairs into four 32-bit lanes.
inline __m128i SquaresV(__m128i v) { return _mm_madd_epi16(v, v); }

inline __m128i WeaveV(__m128i x1, __m128i x2, __m128i y0, __m128i y1) {
  return _mm_add_epi32(SquaresV(SecondV(x1, y0, y1)), SquaresV(SecondV(y1, x1, x2)));
}

enum { SelfTop, SelfBottom, OwnWeave, WeaveTop, WeaveBottom, ChangeTop, ChangeBottom, Quantities };
struct Chunk {
  __m128i v[Quantities];
};

// The whole chunks of a row set, into one accumulator per chunk. Every
// lane stays below 2^31: a block row adds at most 32 pair-sums of squares
// of second differences (each under 2 * 2040^2) to a lane.
void VectorSamples(const RowSet& r, int firstChunk, int chunks, Chunk* acc) {
  for (int c = firstChunk; c < chunks; ++c) {
    const int x = c * ChunkSamples;
    __m128i* a = acc[c].v;
    const __m128i ct1 = Load(r.ct1 + x), cb1 = Load(r.cb1 + x);
    if (r.inner) {
      const __m128i ct0 = Load(r.ct0 + x), ct2 = Load(r.ct2 + x), cb0 = Load(r.cb0 + x), cb2 = Load(r.cb2 + x);
      a[SelfTop] = _mm_add_epi32(a[SelfTop], SquaresV(SecondV(ct1, ct0, ct2)));
      a[SelfBottom] = _mm_add_epi32(a[SelfBottom], SquaresV(SecondV(cb1, cb0, cb2)));
      a[OwnWeave] = _mm_add_epi32(a[OwnWeave], WeaveV(ct1, ct2, cb0, cb1));
      if (r.pair) {
        const __m128i pt1 = Load(r.pt1 + x), pt2 = Load(r.pt2 + x), pb0 = Load(r.pb0 + x), pb1 = Load(r.pb1 + x);
        a[WeaveTop] = _mm_add_epi32(a[WeaveTop], WeaveV(ct1, ct2, pb0, pb1));
        a[WeaveBottom] = _mm_add_epi32(a[WeaveBottom], WeaveV(pt1, pt2, cb0, cb1));
      }
    }
    if (r.pair) {
      const __m128i pt1 = Load(r.pt1 + x), pb1 = Load(r.pb1 + x);
      a[ChangeTop] = _mm_add_epi32(a[ChangeTop], SquaresV(_mm_sub_epi16(ct1, pt1)));
      a[ChangeBottom] = _mm_add_epi32(a[ChangeBottom], SquaresV(_mm_sub_epi16(cb1, pb1)));
    }
  }
}

inline int64_t Total(__m128i v) {
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
  return static_cast<int64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}
#endif

}  // namespace

void FieldAnalyzer::ReduceRow(const uint8_t* row, int width, uint16_t* out, bool vector) {
  const int samples = width / Reduction;
  int j = 0;
#if defined(__SSE2__)
  if (vector && rows::HaveAvx2()) j = rows::ReduceRowAvx2(row, samples, out);
  if (vector) {
    const __m128i low = _mm_set1_epi16(0x00FF), ones = _mm_set1_epi16(1);
    for (; j + 8 <= samples; j += 8) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * j));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * j + 16));
      const __m128i p0 = _mm_add_epi16(_mm_and_si128(v0, low), _mm_srli_epi16(v0, 8));
      const __m128i p1 = _mm_add_epi16(_mm_and_si128(v1, low), _mm_srli_epi16(v1, 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j),
                       _mm_packs_epi32(_mm_madd_epi16(p0, ones), _mm_madd_epi16(p1, ones)));
    }
  }
#else
  (void)vector;
#endif
  for (; j < samples; ++j)
    out[j] = static_cast<uint16_t>(row[4 * j] + row[4 * j + 1] + row[4 * j + 2] + row[4 * j + 3]);
}

void FieldAnalyzer::MeasureBlockRow(const uint16_t* prev, const uint16_t* cur, ptrdiff_t pitch, int samples, int height,
                                    int blockRow, FrameSums* frameOut, PairSums* pairOut, bool vector) {
  const int rowPairs = height / 2;
  const int i0 = blockRow * BlockFieldRows, i1 = std::min(i0 + BlockFieldRows, rowPairs);
  const int blockCols = (samples + BlockSamples - 1) / BlockSamples;
  std::vector<Totals> totals(blockCols);
  // Whole blocks sixteen samples at a time where the processor has AVX2,
  // what is left eight at a time, then one at a time: the same sums.
  int vectorSamples = 0;
#if defined(__SSE2__)
  const int wide = vector && rows::HaveAvx2() ? samples / BlockSamples : 0;
  if (wide > 0) rows::AddBlockRowAvx2(prev, cur, pitch, i0, i1, rowPairs, wide, totals.data());
  const int firstChunk = wide * ChunksPerBlock;
  const int chunks = vector ? samples / ChunkSamples : 0;
  vectorSamples = std::max(chunks * ChunkSamples, wide * BlockSamples);
  Chunk zero;
  for (__m128i& v : zero.v) v = _mm_setzero_si128();
  std::vector<Chunk> acc(chunks, zero);
#else
  (void)vector;
#endif
  for (int i = i0; i < i1; ++i) {
    const RowSet r = rows::RowSetAt(prev, cur, pitch, i, rowPairs);
#if defined(__SSE2__)
    VectorSamples(r, firstChunk, chunks, acc.data());
#endif
    ScalarSamples(r, vectorSamples, samples, totals.data());
  }
#if defined(__SSE2__)
  for (int c = firstChunk; c < chunks; ++c) {
    Totals& t = totals[c / ChunksPerBlock];
    t.selfTop += Total(acc[c].v[SelfTop]);
    t.selfBottom += Total(acc[c].v[SelfBottom]);
    t.weave += Total(acc[c].v[OwnWeave]);
    t.weaveTopFirst += Total(acc[c].v[WeaveTop]);
    t.weaveBottomFirst += Total(acc[c].v[WeaveBottom]);
    t.changeTop += Total(acc[c].v[ChangeTop]);
    t.changeBottom += Total(acc[c].v[ChangeBottom]);
  }
#endif
  for (int b = 0; b < blockCols; ++b) {
    const Totals& t = totals[b];
    frameOut[b] = {static_cast<uint64_t>(t.selfTop), static_cast<uint64_t>(t.selfBottom),
                   static_cast<uint64_t>(t.weave)};
    if (pairOut)
      pairOut[b] = {static_cast<uint64_t>(t.weaveTopFirst), static_cast<uint64_t>(t.weaveBottomFirst),
                    static_cast<uint64_t>(t.changeTop), static_cast<uint64_t>(t.changeBottom)};
  }
}

FieldAnalyzer::FieldAnalyzer(int frameWidth, int frameHeight, BandRunner bandRunner)
    : width(frameWidth), height(frameHeight), runner(std::move(bandRunner)) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("FieldAnalyzer: empty frame");
  reducedWidth = width / Reduction;
  blockRows = std::max(1, (height / 2 + BlockFieldRows - 1) / BlockFieldRows);
  blockCols = (reducedWidth + BlockSamples - 1) / BlockSamples;
  const size_t blocks = static_cast<size_t>(blockRows) * blockCols;
  for (int i = 0; i < 2; ++i) {
    planes[i].resize(static_cast<size_t>(reducedWidth) * height);
    frameSums[i].resize(blocks);
    pairSums[i].resize(blocks);
  }
}

void FieldAnalyzer::Reduce(const uint8_t* luma, ptrdiff_t pitch) {
  uint16_t* plane = planes[currentPlane].data();
  auto work = [&](int begin, int end) {
    for (int y = begin; y < end; ++y) ReduceRow(luma + y * pitch, width, plane + static_cast<size_t>(y) * reducedWidth);
  };
  if (runner)
    runner(height, work);
  else
    work(0, height);
}

void FieldAnalyzer::Measure(bool havePrevious) {
  const uint16_t* cur = planes[currentPlane].data();
  const uint16_t* prev = havePrevious ? planes[currentPlane ^ 1].data() : nullptr;
  FrameSums* frameOut = frameSums[1].data();
  PairSums* pairOut = pairSums[1].data();
  auto work = [&](int begin, int end) {
    for (int br = begin; br < end; ++br)
      MeasureBlockRow(prev, cur, reducedWidth, reducedWidth, height, br, frameOut + static_cast<size_t>(br) * blockCols,
                      prev ? pairOut + static_cast<size_t>(br) * blockCols : nullptr);
  };
  if (runner)
    runner(blockRows, work);
  else
    work(0, blockRows);
}

// The noise energy of one sample: its second difference within a field
// sums six times the noise energy of independent noise, so a tenth of the
// blocks, the quietest, give an upper bound that fine detail can only raise.
double FieldAnalyzer::NoiseOf(const std::vector<FrameSums>& sums) const {
  const int rowPairs = height / 2;
  std::vector<double> perSample;
  for (int br = 0; br < blockRows; ++br) {
    const int i0 = std::max(1, br * BlockFieldRows), i1 = std::min((br + 1) * BlockFieldRows, rowPairs - 1);
    if (i1 - i0 < BlockFieldRows / 2) continue;
    for (int bc = 0; bc < blockCols; ++bc) {
      const int columns = std::min(BlockSamples, reducedWidth - bc * BlockSamples);
      if (columns < BlockSamples / 2) continue;
      const FrameSums& s = sums[static_cast<size_t>(br) * blockCols + bc];
      perSample.push_back(static_cast<double>(s.selfTop + s.selfBottom) / (6.0 * 2 * columns * (i1 - i0)));
    }
  }
  if (perSample.empty()) return 0;
  const size_t tenth = perSample.size() / 10;
  std::nth_element(perSample.begin(), perSample.begin() + tenth, perSample.end());
  return perSample[tenth];
}

void FieldAnalyzer::AddPositions(const std::vector<FrameSums>& frame, const std::vector<FrameSums>* next,
                                 const std::vector<PairSums>* before, const std::vector<PairSums>* after,
                                 double noise) {
  // Twice the noise energy of a block's field: what a change of one parity
  // gives with no motion at all. A block moves when its change stands well
  // out of that, and at least as far as a few samples changed by a step of
  // 3 in each pixel.
  const int rowPairs = height / 2;
  constexpr double MovingFloor = 2000;
  constexpr double MovingOverNoise = 1.5;
  for (int o = 0; o < 2; ++o) {
    const bool bottomFirst = o == 1;
    PositionMeasures even, odd;
    double repeatEven = 0, repeatOdd = 0, noiseEnergy = 0;
    // The repeat shares (PositionMeasures::repeatShare) of position 2k-1,
    // the odd one before, and of 2k: the sum and the sum it is taken over.
    double shareOdd[2] = {0, 0}, shareEven[2] = {0, 0};
    for (int br = 0; br < blockRows; ++br) {
      const int fieldRows = std::min(BlockFieldRows, rowPairs - br * BlockFieldRows);
      for (int bc = 0; bc < blockCols; ++bc) {
        const size_t b = static_cast<size_t>(br) * blockCols + bc;
        const double samples =
            static_cast<double>(std::min(BlockSamples, reducedWidth - bc * BlockSamples)) * std::max(0, fieldRows);
        const double floor = 2 * noise * samples;
        noiseEnergy += floor;
        const double threshold = std::max(MovingFloor, MovingOverNoise * floor);
        // In time order the first field of a frame is its top one
        // (top first) or its bottom one; "first" and "second" changes are
        // those of the first and the second field of each frame.
        auto first = [&](const PairSums& p) { return static_cast<double>(bottomFirst ? p.changeBottom : p.changeTop); };
        auto second = [&](const PairSums& p) {
          return static_cast<double>(bottomFirst ? p.changeTop : p.changeBottom);
        };
        const FrameSums& f = frame[b];
        auto oddWeave = [&](const PairSums& p) {
          return static_cast<double>(bottomFirst ? p.weaveBottomFirst : p.weaveTopFirst);
        };
        // A position's block: its comb excess, and the changes of field p-1
        // against p+1 (m1) and of field p against p+2 (m2).
        auto add = [&](PositionMeasures& m, double comb, double m1, double m2, double self) {
          m.combAll += comb;
          if (self > ActiveDetail * floor) {
            ++m.activeBlocks;
            if (comb > self) ++m.combBlocks;
          }
          if (m1 > threshold || m2 > threshold) {
            m.comb += comb;
            m.motionBefore += std::max(0.0, m1 - floor);
            m.motionAfter += std::max(0.0, m2 - floor);
            ++m.movingBlocks;
          }
        };
        // Position 2k: frame k's fields; field p-1 is frame k-1's second
        // field, p+2 frame k+1's first.
        {
          const double m1 = before ? second((*before)[b]) : 0, m2 = after ? first((*after)[b]) : 0;
          const double comb = static_cast<double>(f.weave) - static_cast<double>(f.selfTop + f.selfBottom);
          if (before && m1 > threshold) {
            even.pairing += static_cast<double>(f.weave) - oddWeave((*before)[b]);
            even.pairingMotion += m1 - floor;
            even.pairingWeaves += static_cast<double>(f.weave) + oddWeave((*before)[b]);
          }
          if (before && after) {
            const double c0 = first((*before)[b]), c1 = second((*before)[b]), c2 = first((*after)[b]),
                         c3 = second((*after)[b]);
            const double aroundOdd = std::max(c0, c2), aroundEven = std::max(c1, c3);
            if (aroundOdd > threshold) {
              shareOdd[0] += std::min(c1, aroundOdd);
              shareOdd[1] += aroundOdd;
            }
            if (aroundEven > threshold) {
              shareEven[0] += std::min(c2, aroundEven);
              shareEven[1] += aroundEven;
            }
          }
          add(even, comb, m1, m2, static_cast<double>(f.selfTop + f.selfBottom));
          repeatEven += m2;
        }
        // Position 2k+1: frame k's second field and frame k+1's first.
        if (next && after) {
          const PairSums& p = (*after)[b];
          const FrameSums& g = (*next)[b];
          const double m1 = first(p), m2 = second(p);
          const double weave = oddWeave(p);
          const double self = static_cast<double>(bottomFirst ? f.selfTop + g.selfBottom : f.selfBottom + g.selfTop);
          const double comb = weave - self;
          if (m1 > threshold) {
            odd.pairing += weave - static_cast<double>(f.weave);
            odd.pairingMotion += m1 - floor;
            odd.pairingWeaves += weave + static_cast<double>(f.weave);
          }
          add(odd, comb, m1, m2, self);
          repeatOdd += m2;
        }
      }
    }
    even.blocks = odd.blocks = blockRows * blockCols;
    even.motion = even.motionBefore + even.motionAfter;
    even.repeat = after ? repeatEven : -1;
    even.repeatNoise = noiseEnergy;
    if (shareEven[1] > 0) even.repeatShare = shareEven[0] / shareEven[1];
    even.repeatShareMass = shareEven[1];
    if (before && after && !positions[o].empty()) {
      PositionMeasures& last = positions[o].back();
      last.repeatShare = shareOdd[1] > 0 ? shareOdd[0] / shareOdd[1] : -1;
      last.repeatShareMass = shareOdd[1];
    }
    positions[o].push_back(even);
    if (next && after) {
      odd.motion = odd.motionBefore + odd.motionAfter;
      odd.repeat = repeatOdd;
      odd.repeatNoise = noiseEnergy;
      positions[o].push_back(odd);
    }
  }
}

void FieldAnalyzer::AddFrame(const uint8_t* luma, ptrdiff_t pitch) {
  currentPlane ^= 1;
  Reduce(luma, pitch);
  Measure(frames > 0);
  frameNoise[1] = NoiseOf(frameSums[1]);
  if (frames >= 1) {
    // Frame k = frames - 1 is complete: its positions 2k and 2k+1.
    const int k = frames - 1;
    AddPositions(frameSums[0], &frameSums[1], k >= 1 ? &pairSums[0] : nullptr, &pairSums[1],
                 std::min(frameNoise[0], frameNoise[1]));
  }
  std::swap(frameSums[0], frameSums[1]);
  std::swap(pairSums[0], pairSums[1]);
  frameNoise[0] = frameNoise[1];
  ++frames;
}

FieldAnalyzer::Result FieldAnalyzer::Finish() {
  Result result;
  if (frames == 0) return result;
  // The last frame's own position: only the change of its first field's
  // predecessor is known.
  AddPositions(frameSums[0], nullptr, frames >= 2 ? &pairSums[0] : nullptr, nullptr, frameNoise[0]);
  for (int o = 0; o < 2; ++o) result.order[o] = std::move(positions[o]);
  frames = 0;
  return result;
}

}  // namespace analysis
