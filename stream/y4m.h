// YUV4MPEG2 stream and frame headers, and the conversions between Y4M's
// planar 4:2:2 and the packed YUY2 rows that the filter works on.
#ifndef ZEMIVTC_STREAM_Y4M_H
#define ZEMIVTC_STREAM_Y4M_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stream {

enum class Chroma { Yuv422, Yuv420 };

struct Y4mHeader {
  int width = 0;
  int height = 0;
  unsigned fpsNumerator = 0;  // 0 when the stream gives no rate
  unsigned fpsDenominator = 0;
  char interlace = '?';     // the I tag's letter; '?' when absent
  int aspectNumerator = 0;  // 0:0 is Y4M's "unknown"
  int aspectDenominator = 0;
  bool hasAspect = false;
  Chroma chroma = Chroma::Yuv420;      // Y4M's default when C is absent
  std::string colorTag;                // the C tag as written, "" when absent
  std::vector<std::string> extraTags;  // X tags, kept for the output
};

// Largest width or height accepted; keeps every frame size well inside int.
constexpr int MaxDimension = 16384;

// Parses a stream header line without its '\n'. Throws CliError naming the
// fault for anything that is not 8-bit 4:2:2 or 4:2:0 of sane geometry.
Y4mHeader ParseY4mHeader(const std::string& line);

// The header line (with '\n') of the command's output: planar 4:2:2 at
// 60000/1001 (or the rate given), progressive, the input's size, aspect and
// X tags.
std::string FormatOutputHeader(const Y4mHeader& input, unsigned rateNumerator = 60000, unsigned rateDenominator = 1001);

// True when `line` (without '\n') is a valid frame header: "FRAME" alone or
// followed by a space and parameters.
bool IsFrameHeader(const std::string& line);

// Bytes of one frame's pixels: planar Y, U, V at 4:2:2 or 4:2:0.
size_t PlanarFrameBytes(const Y4mHeader& h);

// Interleaves planar 4:2:2 (Y plane, then U, then V, rows packed) into YUY2
// rows of 2 * width bytes placed `pitch` bytes apart. Width must be even.
void PlanarToPacked(const uint8_t* planar, int width, int height, uint8_t* packed, ptrdiff_t pitch);

// The reverse: YUY2 rows `pitch` bytes apart into packed planar Y, U, V.
void PackedToPlanar(const uint8_t* packed, ptrdiff_t pitch, int width, int height, uint8_t* planar);

// Rows per band worth handing to another thread: about 64K pixels.
inline int MinBandRows(int width) { return width >= 65536 ? 1 : 65536 / width; }

// The same for rows [rowBegin, rowEnd) of a frame `height` rows high only,
// so that bands of one frame can be converted on different threads.
void PlanarToPackedRows(const uint8_t* planar, int width, int height, int rowBegin, int rowEnd, uint8_t* packed,
                        ptrdiff_t pitch);
void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int width, int height, int rowBegin, int rowEnd,
                        uint8_t* planar);

}  // namespace stream

#endif
