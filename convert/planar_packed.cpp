#include "convert/planar_packed.h"

#include "platform/crt.h"
#include "platform/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// One YUY2 row from a luma row and the chroma rows for it: Y0 U0 Y1 V0 ...
// Null chroma rows give 128 (a luma-only frame).
void InterleaveRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t half) {
  int32_t i = 0;
#if defined(__SSE2__)
  // 16 pixels at a time: U and V interleave into UVUV..., then luma into YUYV.
  const __m128i grey = _mm_set1_epi8(static_cast<char>(128));
  for (; i + 8 <= half; i += 8) {
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 2 * i));
    const __m128i uv = u ? _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i)))
                         : grey;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_unpacklo_epi8(luma, uv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i + 16), _mm_unpackhi_epi8(luma, uv));
  }
#endif
  for (; i < half; ++i) {
    out[4 * i] = y[2 * i];
    out[4 * i + 1] = u ? u[i] : 128;
    out[4 * i + 2] = y[2 * i + 1];
    out[4 * i + 3] = v ? v[i] : 128;
  }
}

// The luma of a YUY2 row.
void LumaOfRow(const uint8_t* in, uint8_t* y, int32_t half) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  for (; i + 8 <= half; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 2 * i),
                     _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
  }
#endif
  for (; i < half; ++i) {
    y[2 * i] = in[4 * i];
    y[2 * i + 1] = in[4 * i + 2];
  }
}

inline uint8_t Mean(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// A YUY2 row split into its luma row and a chroma row: its own chroma, or
// (WithOther) the mean, rounded up, of its chroma and that of `other`, a row
// read just before it.
template <bool WithOther>
void SplitRow(const uint8_t* other, const uint8_t* in, uint8_t* y, uint8_t* u, uint8_t* v, int32_t half) {
  int32_t i = 0;
#if defined(__SSE2__)
  // 16 pixels at a time: even bytes are luma, odd bytes UVUV..., split again.
  const __m128i low = _mm_set1_epi16(0x00FF);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= half; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 2 * i),
                     _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    __m128i uv = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    if (WithOther) {
      // The chroma bytes of both rows, averaged as whole bytes (pavgb rounds up).
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + 4 * i));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + 4 * i + 16));
      uv = _mm_avg_epu8(uv, _mm_packus_epi16(_mm_srli_epi16(c, 8), _mm_srli_epi16(d, 8)));
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(_mm_and_si128(uv, low), zero));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_packus_epi16(_mm_srli_epi16(uv, 8), zero));
  }
#endif
  for (; i < half; ++i) {
    y[2 * i] = in[4 * i];
    y[2 * i + 1] = in[4 * i + 2];
    u[i] = WithOther ? Mean(in[4 * i + 1], other[4 * i + 1]) : in[4 * i + 1];
    v[i] = WithOther ? Mean(in[4 * i + 3], other[4 * i + 3]) : in[4 * i + 3];
  }
}

// The chroma row of planar row s: its own at 4:2:2; at 4:2:0 the row of its
// field that covers it (rows 4i+f and 4i+f+2 share chroma row 2i+f).
inline int32_t ChromaRowOf(int32_t s, PlanarChroma chroma) { return chroma == PlanarYuv420 ? 2 * (s / 4) + s % 2 : s; }

// Planar rows rowBegin, rowBegin + step, ... below rowEnd, into packed rows.
void PlanarToPackedRowSet(const PlanarFrame& planar, int32_t width, int32_t height, int32_t rowBegin, int32_t rowEnd,
                          int32_t step, uint8_t* packed, ptrdiff_t pitch, const PackedLayout& layout) {
  const int32_t half = width / 2;
  const bool gray = layout.chroma == PlanarGray;
  for (int32_t s = rowBegin; s < rowEnd; s += step) {
    const ptrdiff_t c = static_cast<ptrdiff_t>(ChromaRowOf(s, layout.chroma)) * planar.uvPitch;
    const int32_t row = layout.mirrored ? height - 1 - s : s;
    InterleaveRow(planar.y + s * planar.yPitch, gray ? nullptr : planar.u + c, gray ? nullptr : planar.v + c,
                  packed + row * pitch, half);
  }
}

}  // namespace

bool LayoutProblemText(int32_t width, int32_t height, const PackedLayout& layout, const char* cropHint, char* text) {
  TextBuffer out = StartText(text, LayoutProblemBytes);
  if (width % 2 != 0) {
    out << "odd width " << width << " cannot be carried as YUY2";
  } else if (layout.chroma == PlanarYuv420 && height % 4 != 0) {
    out << "interlaced 4:2:0 needs a height that is a multiple of 4, so that each field has whole chroma rows "
           "(each covers two of its luma rows); "
        << width << "x" << height << " is not: crop or pad it to a multiple of 4 (" << cropHint << ")";
  } else if (layout.mirrored && height % 2 != 0) {
    out << "bottom field first needs an even height (the fields of an odd height are not swapped by turning the "
           "frame over); "
        << width << "x" << height << " is not";
  } else {
    return false;
  }
  return true;
}

void PlanarToPackedRows(const PlanarFrame& planar, int32_t width, int32_t height, int32_t rowBegin, int32_t rowEnd,
                        uint8_t* packed, ptrdiff_t pitch, const PackedLayout& layout) {
  PlanarToPackedRowSet(planar, width, height, rowBegin, rowEnd, 1, packed, pitch, layout);
}

void PlanarToPackedField(const PlanarFrame& planar, int32_t width, int32_t height, int32_t field, uint8_t* packed,
                         ptrdiff_t pitch, const PackedLayout& layout) {
  // Turned over, packed row r holds planar row height - 1 - r.
  const int32_t first = layout.mirrored ? (height - 1 - field) & 1 : field;
  PlanarToPackedRowSet(planar, width, height, first, height, 2, packed, pitch, layout);
}

void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int32_t width, int32_t height, int32_t rowBegin,
                        int32_t rowEnd, const PlanarFrame& planar, const PackedLayout& layout) {
  const int32_t half = width / 2;
  const bool yuv420 = layout.chroma == PlanarYuv420;
  // Packed rows are read once each, in rising order (mirrored or not: the
  // hardware follows rising reads best); the planar rows are then written in
  // falling order when mirrored. At 4:2:0 the second of a field's two rows
  // under one chroma row makes that chroma row, with the first, read just
  // before it, still in the cache.
  for (int32_t i = rowBegin; i < rowEnd; ++i) {
    const int32_t s = layout.mirrored ? rowEnd - 1 - (i - rowBegin) : i;
    const uint8_t* in = packed + (layout.mirrored ? height - 1 - s : s) * pitch;
    uint8_t* y = planar.y + s * planar.yPitch;
    const bool lower = s % 4 >= 2;  // the lower of its field's two rows under one chroma row
    if (layout.chroma == PlanarGray || (yuv420 && lower == layout.mirrored)) {
      LumaOfRow(in, y, half);  // no chroma, or its chroma row is made with the other row
      continue;
    }
    const ptrdiff_t c = static_cast<ptrdiff_t>(ChromaRowOf(s, layout.chroma)) * planar.uvPitch;
    if (!yuv420) {
      SplitRow<false>(nullptr, in, y, planar.u + c, planar.v + c, half);
      continue;
    }
    const int32_t other = lower ? s - 2 : s + 2;
    SplitRow<true>(packed + (layout.mirrored ? height - 1 - other : other) * pitch, in, y, planar.u + c, planar.v + c,
                   half);
  }
}

void ChromaTo420Rows(const uint8_t* from, ptrdiff_t fromPitch, uint8_t* to, ptrdiff_t toPitch, int32_t chromaBytes,
                     int32_t rowBegin, int32_t rowEnd) {
  // Frame rows 4i+f and 4i+f+2 of field f share chroma row 2i+f.
  for (int32_t c = rowBegin / 2; c < rowEnd / 2; ++c) {
    const int32_t first = 4 * (c / 2) + c % 2;
    const uint8_t* a = from + first * fromPitch;
    const uint8_t* b = a + 2 * fromPitch;
    uint8_t* out = to + c * toPitch;
    for (int32_t i = 0; i < chromaBytes; ++i) out[i] = Mean(a[i], b[i]);
  }
}

void ChromaTo422Rows(const uint8_t* from, ptrdiff_t fromPitch, uint8_t* to, ptrdiff_t toPitch, int32_t chromaBytes,
                     int32_t rowBegin, int32_t rowEnd) {
  for (int32_t s = rowBegin; s < rowEnd; ++s)
    memcpy(to + s * toPitch, from + ChromaRowOf(s, PlanarYuv420) * fromPitch, static_cast<size_t>(chromaBytes));
}
