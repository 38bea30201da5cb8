#include "stream/y4m.h"

#include <climits>
#include <cstring>
#include <sstream>

#include "convert/planar_packed.h"
#include "stream/errors.h"

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
  // Only a pipe (or a file that starts like one) reaches here: a video file
  // of another kind is read through FFMS2 when named as a file.
  if (token != "YUV4MPEG2")
    Bad("it does not start with \"YUV4MPEG2\"; a pipe must carry Y4M (ffmpeg -i SOURCE -f yuv4mpegpipe -), "
        "or name the video file itself");
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

namespace {

// The planes of a planar frame whose rows lie packed one after the other:
// Y, then U, then V.
PlanarFrame ContiguousPlanes(const uint8_t* planar, int width, int height, Chroma chroma) {
  const ptrdiff_t chromaRowBytes = width / 2;
  const ptrdiff_t chromaRows = chroma == Chroma::Yuv420 ? height / 2 : height;
  uint8_t* y = const_cast<uint8_t*>(planar);
  uint8_t* u = y + static_cast<ptrdiff_t>(width) * height;
  return PlanarFrame{y, u, u + chromaRowBytes * chromaRows, width, chromaRowBytes};
}

::PackedLayout CoreLayout(const PackedLayout& layout) {
  return ::PackedLayout{layout.chroma == Chroma::Yuv420 ? PlanarYuv420 : PlanarYuv422, layout.mirrored};
}

}  // namespace

std::string LayoutProblem(int width, int height, const PackedLayout& layout) {
  char text[LayoutProblemBytes];
  return LayoutProblemText(width, height, CoreLayout(layout), CommandCropHint, text) ? text : "";
}

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
  ::PlanarToPackedRows(ContiguousPlanes(planar, width, height, layout.chroma), width, height, rowBegin, rowEnd, packed,
                       pitch, CoreLayout(layout));
}

void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int width, int height, int rowBegin, int rowEnd,
                        uint8_t* planar, const PackedLayout& layout) {
  ::PackedToPlanarRows(packed, pitch, width, height, rowBegin, rowEnd,
                       ContiguousPlanes(planar, width, height, layout.chroma), CoreLayout(layout));
}

}  // namespace stream
