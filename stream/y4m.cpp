#include "stream/y4m.h"

#include <climits>
#include <cstring>
#include <sstream>

#include "stream/errors.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stream {
namespace {

// Strict decimal: digits only, no sign, fits in an int.
bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

bool ParseRatio(const std::string& text, int* num, int* den) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  return ParseCount(text.substr(0, colon), num) && ParseCount(text.substr(colon + 1), den);
}

[[noreturn]] void Bad(const std::string& what) { throw CliError("input is not a usable Y4M stream: " + what); }

}  // namespace

Y4mHeader ParseY4mHeader(const std::string& line) {
  std::istringstream in(line);
  std::string token;
  in >> token;
  if (token != "YUV4MPEG2") Bad("it does not start with \"YUV4MPEG2\"");
  Y4mHeader h;
  bool hasWidth = false, hasHeight = false;
  while (in >> token) {
    const std::string value = token.substr(1);
    switch (token[0]) {
      case 'W':
        if (!ParseCount(value, &h.width) || h.width <= 0 || h.width > MaxDimension) Bad("bad width \"" + token + "\"");
        hasWidth = true;
        break;
      case 'H':
        if (!ParseCount(value, &h.height) || h.height <= 0 || h.height > MaxDimension)
          Bad("bad height \"" + token + "\"");
        hasHeight = true;
        break;
      case 'F': {
        int num = 0, den = 0;
        if (!ParseRatio(value, &num, &den) || num <= 0 || den <= 0) Bad("bad frame rate \"" + token + "\"");
        h.fpsNumerator = static_cast<unsigned>(num);
        h.fpsDenominator = static_cast<unsigned>(den);
        break;
      }
      case 'I':
        if (value.size() != 1 || std::strchr("ptbm?", value[0]) == nullptr) Bad("bad interlacing \"" + token + "\"");
        h.interlace = value[0];
        break;
      case 'A':
        if (!ParseRatio(value, &h.aspectNumerator, &h.aspectDenominator)) Bad("bad aspect \"" + token + "\"");
        h.hasAspect = true;
        break;
      case 'C':
        h.colorTag = value;
        if (value == "422" || value == "422p8") {
          h.chroma = Chroma::Yuv422;
        } else if (value == "420" || value == "420jpeg" || value == "420paldv" || value == "420mpeg2" ||
                   value == "420p8") {
          h.chroma = Chroma::Yuv420;
        } else {
          throw CliError("unsupported Y4M colour format C" + value +
                         ": zemivtc reads 8-bit 4:2:2 (C422) and 4:2:0 (C420jpeg, C420mpeg2, C420paldv, C420); "
                         "convert with ffmpeg -pix_fmt yuv420p");
        }
        break;
      case 'X': h.extraTags.push_back(token); break;
      default: break;  // unknown tags are ignored, as Y4M readers do
    }
  }
  if (!hasWidth || !hasHeight) Bad("the header has no W or no H tag");
  if (h.width % 2 != 0)
    throw CliError("odd width " + std::to_string(h.width) + " in " + ColourFormatName(h) +
                   " cannot be carried as YUY2 (the filter's packed 4:2:2 needs an even width)");
  return h;
}

FieldOrder HeaderFieldOrder(const Y4mHeader& h) {
  return h.interlace == 't' ? FieldOrder::TopFirst : h.interlace == 'b' ? FieldOrder::BottomFirst : FieldOrder::Unknown;
}

const char* ChromaName(Chroma chroma) { return chroma == Chroma::Yuv420 ? "4:2:0" : "4:2:2"; }

std::string ColourFormatName(const Y4mHeader& h, bool raw) {
  if (raw) return "4:2:2 (packed yuyv422)";
  return std::string(ChromaName(h.chroma)) + (h.colorTag.empty() ? " (no C tag)" : " (C" + h.colorTag + ")");
}

std::string InputFormatName(const Y4mHeader& h, bool raw) {
  return std::to_string(h.width) + "x" + std::to_string(h.height) + " " + ColourFormatName(h, raw);
}

std::string OutputColourTag(const Y4mHeader& input, Chroma chroma) {
  if (chroma == Chroma::Yuv422) return "422";
  if (input.chroma != Chroma::Yuv420) return "420";
  return input.colorTag.empty() ? "420jpeg" : input.colorTag;
}

std::string FormatOutputHeader(const Y4mHeader& input, unsigned rateNumerator, unsigned rateDenominator,
                               Chroma chroma) {
  // Output frames are whole pictures (matched fields or field rebuilds), so
  // they are marked progressive whatever the input said.
  std::string s = "YUV4MPEG2 W" + std::to_string(input.width) + " H" + std::to_string(input.height) + " F" +
                  std::to_string(rateNumerator) + ":" + std::to_string(rateDenominator) + " Ip";
  if (input.hasAspect)
    s += " A" + std::to_string(input.aspectNumerator) + ":" + std::to_string(input.aspectDenominator);
  s += " C" + OutputColourTag(input, chroma);
  for (const std::string& tag : input.extraTags) {
    if (tag.rfind("XYSCSS=", 0) == 0) continue;  // chroma subsampling hint; the C tag states ours
    s += " " + tag;
  }
  s += "\n";
  return s;
}

bool IsFrameHeader(const std::string& line) {
  return line.compare(0, 5, "FRAME") == 0 && (line.size() == 5 || line[5] == ' ');
}

size_t PlanarFrameBytes(int width, int height, Chroma chroma) {
  const size_t luma = static_cast<size_t>(width) * height;
  if (chroma == Chroma::Yuv422) return luma + 2 * (static_cast<size_t>(width / 2) * height);
  const size_t chromaBytes = static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
  return luma + 2 * chromaBytes;
}

std::string LayoutProblem(int width, int height, const PackedLayout& layout) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width % 2 != 0) return "odd width " + std::to_string(width) + " cannot be carried as YUY2";
  if (layout.chroma == Chroma::Yuv420 && height % 4 != 0)
    return "interlaced 4:2:0 needs a height that is a multiple of 4, so that each field has whole chroma rows "
           "(each covers two of its luma rows); " +
           size + " is not: crop or pad it to a multiple of 4 (ffmpeg -vf crop or pad)";
  if (layout.mirrored && height % 2 != 0)
    return "bottom field first needs an even height (the fields of an odd height are not swapped by turning the "
           "frame over); " +
           size + " is not";
  return "";
}

namespace {

// One YUY2 row from a luma row and the chroma rows for it: Y0 U0 Y1 V0 ...
void InterleaveRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int half) {
  int i = 0;
#if defined(__SSE2__)
  // 16 pixels at a time: U and V interleave into UVUV..., then luma into YUYV.
  for (; i + 8 <= half; i += 8) {
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 2 * i));
    const __m128i uv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_unpacklo_epi8(luma, uv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i + 16), _mm_unpackhi_epi8(luma, uv));
  }
#endif
  for (; i < half; ++i) {
    out[4 * i] = y[2 * i];
    out[4 * i + 1] = u[i];
    out[4 * i + 2] = y[2 * i + 1];
    out[4 * i + 3] = v[i];
  }
}

// The luma of a YUY2 row.
void LumaOfRow(const uint8_t* in, uint8_t* y, int half) {
  int i = 0;
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
void SplitRow(const uint8_t* other, const uint8_t* in, uint8_t* y, uint8_t* u, uint8_t* v, int half) {
  int i = 0;
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

// Where the planes of a planar frame lie.
struct Planes {
  size_t chromaRowBytes;
  size_t uOffset, vOffset;
  Planes(int width, int height, Chroma chroma) {
    chromaRowBytes = static_cast<size_t>(width / 2);
    const size_t chromaRows = chroma == Chroma::Yuv420 ? static_cast<size_t>(height / 2) : height;
    uOffset = static_cast<size_t>(width) * height;
    vOffset = uOffset + chromaRowBytes * chromaRows;
  }
};

// The chroma row of stream row s: its own at 4:2:2; at 4:2:0 the row of its
// field that covers it (rows 4i+f and 4i+f+2 share chroma row 2i+f).
inline int ChromaRowOf(int s, Chroma chroma) { return chroma == Chroma::Yuv420 ? 2 * (s / 4) + s % 2 : s; }

}  // namespace

void PlanarToPacked(const uint8_t* planar, int width, int height, uint8_t* packed, ptrdiff_t pitch,
                    const PackedLayout& layout) {
  PlanarToPackedRows(planar, width, height, 0, height, packed, pitch, layout);
}

void PackedToPlanar(const uint8_t* packed, ptrdiff_t pitch, int width, int height, uint8_t* planar,
                    const PackedLayout& layout) {
  PackedToPlanarRows(packed, pitch, width, height, 0, height, planar, layout);
}

void PlanarToPackedRows(const uint8_t* planar, int width, int height, int rowBegin, int rowEnd, uint8_t* packed,
                        ptrdiff_t pitch, const PackedLayout& layout) {
  const Planes planes(width, height, layout.chroma);
  const int half = width / 2;
  for (int s = rowBegin; s < rowEnd; ++s) {
    const size_t c = static_cast<size_t>(ChromaRowOf(s, layout.chroma)) * planes.chromaRowBytes;
    const int row = layout.mirrored ? height - 1 - s : s;
    InterleaveRow(planar + static_cast<size_t>(s) * width, planar + planes.uOffset + c, planar + planes.vOffset + c,
                  packed + row * pitch, half);
  }
}

void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int width, int height, int rowBegin, int rowEnd,
                        uint8_t* planar, const PackedLayout& layout) {
  const Planes planes(width, height, layout.chroma);
  const int half = width / 2;
  const bool yuv420 = layout.chroma == Chroma::Yuv420;
  // Packed rows are read once each, in rising order (mirrored or not: the
  // hardware follows rising reads best); the planar rows are then written in
  // falling order when mirrored. At 4:2:0 the second of a field's two rows
  // under one chroma row makes that chroma row, with the first, read just
  // before it, still in the cache.
  for (int i = rowBegin; i < rowEnd; ++i) {
    const int s = layout.mirrored ? rowEnd - 1 - (i - rowBegin) : i;
    const uint8_t* in = packed + (layout.mirrored ? height - 1 - s : s) * pitch;
    uint8_t* y = planar + static_cast<size_t>(s) * width;
    const bool lower = s % 4 >= 2;  // the lower of its field's two rows under one chroma row
    if (yuv420 && lower == layout.mirrored) {
      LumaOfRow(in, y, half);  // its chroma row is made with the other row
      continue;
    }
    const size_t c = static_cast<size_t>(ChromaRowOf(s, layout.chroma)) * planes.chromaRowBytes;
    if (!yuv420) {
      SplitRow<false>(nullptr, in, y, planar + planes.uOffset + c, planar + planes.vOffset + c, half);
      continue;
    }
    const int other = lower ? s - 2 : s + 2;
    SplitRow<true>(packed + (layout.mirrored ? height - 1 - other : other) * pitch, in, y, planar + planes.uOffset + c,
                   planar + planes.vOffset + c, half);
  }
}

}  // namespace stream
