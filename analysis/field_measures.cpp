#include "analysis/field_measures.h"

#include <algorithm>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace analysis {
namespace {

constexpr int ChunkPixels = 16;  // one vector of bytes
constexpr int ChunksPerBlock = FieldAnalyzer::BlockColumns / ChunkPixels;

inline int SatSub(int a, int b) { return a > b ? a - b : 0; }

// How far a lies outside the range of x and y.
inline int Outside(int a, int x, int y) { return SatSub(a, std::max(x, y)) | SatSub(std::min(x, y), a); }

// Comb excess of a pixel: how far it lies outside the other field's rows
// above and below (n1, n2), less how far it lies outside its own field's
// rows above and below (s1, s2), less the noise floor.
inline int Excess(int a, int n1, int n2, int s1, int s2) {
  return SatSub(SatSub(Outside(a, n1, n2), Outside(a, s1, s2)), FieldAnalyzer::NoiseFloor);
}

inline int Change(int a, int b) { return SatSub(a > b ? a - b : b - a, FieldAnalyzer::NoiseFloor); }

// Rows of one row pair i and its neighbours: t = top field rows (frame row
// 2i), b = bottom field rows (2i + 1), of the previous (p) and current (c)
// frame. Comb rows exist only where the row pair has neighbours on both
// sides.
struct RowSet {
  const uint8_t *pt0, *pt1, *pt2;  // previous frame, top rows i-1, i, i+1
  const uint8_t *pb0, *pb1, *pb2;  // previous frame, bottom rows i-1, i, i+1
  const uint8_t *ct0, *ct1, *ct2;  // current frame, top rows i-1, i, i+1
  const uint8_t* cb1;              // current frame, bottom row i
  bool comb;
};

void ScalarPixels(const RowSet& r, int x0, int x1, bool haveCurrent, FieldAnalyzer::BlockSums* sums) {
  for (int x = x0; x < x1; ++x) {
    FieldAnalyzer::BlockSums& s = sums[x / FieldAnalyzer::BlockColumns];
    if (r.comb) {
      s.combOwn += Excess(r.pt1[x], r.pb0[x], r.pb1[x], r.pt0[x], r.pt2[x]) +
                   Excess(r.pb1[x], r.pt1[x], r.pt2[x], r.pb0[x], r.pb2[x]);
      if (haveCurrent)
        s.combCross += Excess(r.ct1[x], r.pb0[x], r.pb1[x], r.ct0[x], r.ct2[x]) +
                       Excess(r.pb1[x], r.ct1[x], r.ct2[x], r.pb0[x], r.pb2[x]);
    }
    if (haveCurrent) {
      s.motionTop += Change(r.pt1[x], r.ct1[x]);
      s.motionBottom += Change(r.pb1[x], r.cb1[x]);
    }
  }
}

#if defined(__SSE2__)
inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m128i OutsideV(__m128i a, __m128i x, __m128i y) {
  return _mm_or_si128(_mm_subs_epu8(a, _mm_max_epu8(x, y)), _mm_subs_epu8(_mm_min_epu8(x, y), a));
}

inline __m128i ExcessV(__m128i a, __m128i n1, __m128i n2, __m128i s1, __m128i s2, __m128i floor) {
  return _mm_subs_epu8(_mm_subs_epu8(OutsideV(a, n1, n2), OutsideV(a, s1, s2)), floor);
}

inline __m128i ChangeV(__m128i a, __m128i b, __m128i floor) {
  return _mm_subs_epu8(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)), floor);
}

// Sum of the 16 bytes of v, as two 64-bit halves.
inline __m128i SumBytes(__m128i v) { return _mm_sad_epu8(v, _mm_setzero_si128()); }

struct Sums4 {
  __m128i v[4];  // own comb, cross comb, top change, bottom change
};

// The whole 16-pixel chunks of a row set, one Sums4 per chunk.
void VectorPixels(const RowSet& r, int chunks, bool haveCurrent, Sums4* acc) {
  const __m128i floor = _mm_set1_epi8(static_cast<char>(FieldAnalyzer::NoiseFloor));
  for (int c = 0; c < chunks; ++c) {
    const int x = c * ChunkPixels;
    const __m128i pt1 = Load(r.pt1 + x), pb1 = Load(r.pb1 + x);
    __m128i* a = acc[c].v;
    if (r.comb) {
      const __m128i pt0 = Load(r.pt0 + x), pt2 = Load(r.pt2 + x), pb0 = Load(r.pb0 + x), pb2 = Load(r.pb2 + x);
      const __m128i own = _mm_add_epi64(SumBytes(ExcessV(pt1, pb0, pb1, pt0, pt2, floor)),
                                        SumBytes(ExcessV(pb1, pt1, pt2, pb0, pb2, floor)));
      a[0] = _mm_add_epi64(a[0], own);
      if (haveCurrent) {
        const __m128i ct0 = Load(r.ct0 + x), ct1 = Load(r.ct1 + x), ct2 = Load(r.ct2 + x);
        const __m128i cross = _mm_add_epi64(SumBytes(ExcessV(ct1, pb0, pb1, ct0, ct2, floor)),
                                            SumBytes(ExcessV(pb1, ct1, ct2, pb0, pb2, floor)));
        a[1] = _mm_add_epi64(a[1], cross);
      }
    }
    if (haveCurrent) {
      a[2] = _mm_add_epi64(a[2], SumBytes(ChangeV(pt1, Load(r.ct1 + x), floor)));
      a[3] = _mm_add_epi64(a[3], SumBytes(ChangeV(pb1, Load(r.cb1 + x), floor)));
    }
  }
}

inline uint32_t Total(__m128i v) {
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v)) + static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
}
#endif

}  // namespace

void FieldAnalyzer::MeasureBlockRow(const uint8_t* prev, const uint8_t* cur, ptrdiff_t pitch, int width, int height,
                                    int blockRow, BlockSums* sums, bool vector) {
  const int rowPairs = height / 2;
  const int i0 = blockRow * BlockFieldRows, i1 = std::min(i0 + BlockFieldRows, rowPairs);
  const int blockCols = (width + BlockColumns - 1) / BlockColumns;
  std::fill(sums, sums + blockCols, BlockSums());
  const bool haveCurrent = cur != nullptr;
  auto row = [pitch](const uint8_t* frame, int r) { return frame + r * pitch; };
  int vectorWidth = 0;
#if defined(__SSE2__)
  const int chunks = vector ? width / ChunkPixels : 0;
  vectorWidth = chunks * ChunkPixels;
  Sums4 zero;
  for (__m128i& v : zero.v) v = _mm_setzero_si128();
  std::vector<Sums4> acc(chunks, zero);
#else
  (void)vector;
#endif
  for (int i = i0; i < i1; ++i) {
    RowSet r{};
    r.comb = i >= 1 && i + 1 < rowPairs;
    r.pt1 = row(prev, 2 * i);
    r.pb1 = row(prev, 2 * i + 1);
    if (r.comb) {
      r.pt0 = row(prev, 2 * i - 2);
      r.pt2 = row(prev, 2 * i + 2);
      r.pb0 = row(prev, 2 * i - 1);
      r.pb2 = row(prev, 2 * i + 3);
    }
    if (haveCurrent) {
      r.ct1 = row(cur, 2 * i);
      r.cb1 = row(cur, 2 * i + 1);
      if (r.comb) {
        r.ct0 = row(cur, 2 * i - 2);
        r.ct2 = row(cur, 2 * i + 2);
      }
    }
#if defined(__SSE2__)
    VectorPixels(r, chunks, haveCurrent, acc.data());
#endif
    ScalarPixels(r, vectorWidth, width, haveCurrent, sums);
  }
#if defined(__SSE2__)
  for (int c = 0; c < chunks; ++c) {
    BlockSums& s = sums[c / ChunksPerBlock];
    s.combOwn += Total(acc[c].v[0]);
    s.combCross += Total(acc[c].v[1]);
    s.motionTop += Total(acc[c].v[2]);
    s.motionBottom += Total(acc[c].v[3]);
  }
#endif
}

FieldAnalyzer::FieldAnalyzer(int frameWidth, int frameHeight, BandRunner bandRunner)
    : width(frameWidth), height(frameHeight), runner(std::move(bandRunner)) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("FieldAnalyzer: empty frame");
  blockRows = std::max(1, (height / 2 + BlockFieldRows - 1) / BlockFieldRows);
  blockCols = (width + BlockColumns - 1) / BlockColumns;
  sums.resize(static_cast<size_t>(blockRows) * blockCols);
}

void FieldAnalyzer::MeasurePair(const uint8_t* prev, const uint8_t* cur, ptrdiff_t pitch, bool lastFrameOnly) {
  auto work = [&](int begin, int end) {
    for (int br = begin; br < end; ++br)
      MeasureBlockRow(prev, lastFrameOnly ? nullptr : cur, pitch, width, height, br,
                      sums.data() + static_cast<size_t>(br) * blockCols);
  };
  if (runner)
    runner(blockRows, work);
  else
    work(0, blockRows);
}

// Position 2k (cross false: frame k's own weave) or 2k+1 (the current
// frame's top over frame k's bottom) from the sums of pair (k, k+1). The
// moving blocks are those where field p or field p+1 changes against the
// next field of its parity: fields p-1..p+2 around the weave's two.
void FieldAnalyzer::AddPosition(const std::vector<BlockSums>& blockSums, bool cross) {
  PositionMeasures m;
  double repeat = 0;
  for (size_t b = 0; b < blockSums.size(); ++b) {
    const BlockSums& s = blockSums[b];
    // Field p's change and field p-1's (even position) or p+1's (odd).
    const uint32_t first = cross ? s.motionBottom : (previousMotionBottom.empty() ? 0 : previousMotionBottom[b]);
    const uint32_t second = s.motionTop;
    const uint32_t comb = cross ? s.combCross : s.combOwn;
    m.combAll += comb;
    repeat += cross ? s.motionBottom : s.motionTop;
    if (first > MovingBlockSum || second > MovingBlockSum) {
      m.comb += comb;
      m.motionBefore += first;
      m.motionAfter += second;
      ++m.movingBlocks;
    }
  }
  m.repeat = repeat;
  m.motion = m.motionBefore + m.motionAfter;
  positions.push_back(m);
}

void FieldAnalyzer::AddFrame(const uint8_t* luma, ptrdiff_t pitch) {
  if (previous) {
    MeasurePair(previous, luma, pitch, false);
    AddPosition(sums, false);
    AddPosition(sums, true);
    previousMotionBottom.resize(sums.size());
    for (size_t b = 0; b < sums.size(); ++b) previousMotionBottom[b] = sums[b].motionBottom;
  }
  previous = luma;
  previousPitch = pitch;
  ++frames;
}

std::vector<PositionMeasures> FieldAnalyzer::Finish() {
  if (!previous) return {};
  // The last frame's own position: only the change of its bottom field
  // from the frame before it is known.
  MeasurePair(previous, nullptr, previousPitch, true);
  PositionMeasures m;
  for (size_t b = 0; b < sums.size(); ++b) {
    const uint32_t before = previousMotionBottom.empty() ? 0 : previousMotionBottom[b];
    m.combAll += sums[b].combOwn;
    if (before > MovingBlockSum) {
      m.comb += sums[b].combOwn;
      m.motionBefore += before;
      ++m.movingBlocks;
    }
  }
  m.motion = m.motionBefore;
  positions.push_back(m);
  previous = nullptr;
  return std::move(positions);
}

}  // namespace analysis
