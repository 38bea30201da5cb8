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
                         ": zemivtc reads 8-bit 4:2:2 (C422); convert with ffmpeg -pix_fmt yuv422p");
        }
        break;
      case 'X': h.extraTags.push_back(token); break;
      default: break;  // unknown tags are ignored, as Y4M readers do
    }
  }
  if (!hasWidth || !hasHeight) Bad("the header has no W or no H tag");
  if (h.chroma == Chroma::Yuv422 && h.width % 2 != 0)
    throw CliError("odd width " + std::to_string(h.width) + " cannot be carried as YUY2 (4:2:2 needs an even width)");
  return h;
}

std::string FormatOutputHeader(const Y4mHeader& input, unsigned rateNumerator, unsigned rateDenominator) {
  // Output frames are whole pictures (matched fields or field rebuilds), so
  // they are marked progressive whatever the input said.
  std::string s = "YUV4MPEG2 W" + std::to_string(input.width) + " H" + std::to_string(input.height) + " F" +
                  std::to_string(rateNumerator) + ":" + std::to_string(rateDenominator) + " Ip";
  if (input.hasAspect)
    s += " A" + std::to_string(input.aspectNumerator) + ":" + std::to_string(input.aspectDenominator);
  s += " C422";
  for (const std::string& tag : input.extraTags) {
    if (tag.rfind("XYSCSS=", 0) == 0) continue;  // chroma subsampling hint; ours is C422
    s += " " + tag;
  }
  s += "\n";
  return s;
}

bool IsFrameHeader(const std::string& line) {
  return line.compare(0, 5, "FRAME") == 0 && (line.size() == 5 || line[5] == ' ');
}

size_t PlanarFrameBytes(const Y4mHeader& h) {
  const size_t luma = static_cast<size_t>(h.width) * h.height;
  if (h.chroma == Chroma::Yuv422) return luma + 2 * (static_cast<size_t>(h.width / 2) * h.height);
  const size_t chroma = static_cast<size_t>((h.width + 1) / 2) * ((h.height + 1) / 2);
  return luma + 2 * chroma;
}

void PlanarToPacked(const uint8_t* planar, int width, int height, uint8_t* packed, ptrdiff_t pitch) {
  PlanarToPackedRows(planar, width, height, 0, height, packed, pitch);
}

void PackedToPlanar(const uint8_t* packed, ptrdiff_t pitch, int width, int height, uint8_t* planar) {
  PackedToPlanarRows(packed, pitch, width, height, 0, height, planar);
}

void PlanarToPackedRows(const uint8_t* planar, int width, int height, int rowBegin, int rowEnd, uint8_t* packed,
                        ptrdiff_t pitch) {
  const int half = width / 2;
  const uint8_t* yPlane = planar;
  const uint8_t* uPlane = planar + static_cast<size_t>(width) * height;
  const uint8_t* vPlane = uPlane + static_cast<size_t>(half) * height;
  for (int row = rowBegin; row < rowEnd; ++row) {
    const uint8_t* y = yPlane + static_cast<size_t>(row) * width;
    const uint8_t* u = uPlane + static_cast<size_t>(row) * half;
    const uint8_t* v = vPlane + static_cast<size_t>(row) * half;
    uint8_t* out = packed + row * pitch;
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
}

void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int width, int height, int rowBegin, int rowEnd,
                        uint8_t* planar) {
  const int half = width / 2;
  uint8_t* yPlane = planar;
  uint8_t* uPlane = planar + static_cast<size_t>(width) * height;
  uint8_t* vPlane = uPlane + static_cast<size_t>(half) * height;
  for (int row = rowBegin; row < rowEnd; ++row) {
    const uint8_t* in = packed + row * pitch;
    uint8_t* y = yPlane + static_cast<size_t>(row) * width;
    uint8_t* u = uPlane + static_cast<size_t>(row) * half;
    uint8_t* v = vPlane + static_cast<size_t>(row) * half;
    int i = 0;
#if defined(__SSE2__)
    // 16 pixels at a time: even bytes are luma, odd bytes UVUV..., split again.
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; i + 8 <= half; i += 8) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 2 * i),
                       _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
      const __m128i uv = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
      const __m128i zero = _mm_setzero_si128();
      _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(_mm_and_si128(uv, low), zero));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_packus_epi16(_mm_srli_epi16(uv, 8), zero));
    }
#endif
    for (; i < half; ++i) {
      y[2 * i] = in[4 * i];
      u[i] = in[4 * i + 1];
      y[2 * i + 1] = in[4 * i + 2];
      v[i] = in[4 * i + 3];
    }
  }
}

}  // namespace stream
