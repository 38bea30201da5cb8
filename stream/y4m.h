// YUV4MPEG2 stream and frame headers, and the conversions between Y4M's
// planar 4:2:2 and 4:2:0 and the packed YUY2 rows that the filter works on.
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

enum class FieldOrder { Unknown, TopFirst, BottomFirst };

// The order the header's I tag states: It, Ib; Unknown for Ip, Im, I? and
// no tag (a progressive flag says nothing of how telecined fields lie).
FieldOrder HeaderFieldOrder(const Y4mHeader& h);

// "4:2:2" or "4:2:0".
const char* ChromaName(Chroma chroma);
// The input's colour format for messages: "4:2:0 (C420mpeg2)", "4:2:0 (no C
// tag)", "4:2:2 (packed yuyv422)" for raw input.
std::string ColourFormatName(const Y4mHeader& h, bool raw = false);
// Size and colour format: "720x480 4:2:0 (C420mpeg2)".
std::string InputFormatName(const Y4mHeader& h, bool raw = false);

// The C tag value (without the 'C') of output frames in `chroma` made from
// this input: a 4:2:0 input keeps its own (chroma siting) tag, C420jpeg when
// it had none; 4:2:0 made from 4:2:2 states no siting ("420"); 4:2:2 is "422".
std::string OutputColourTag(const Y4mHeader& input, Chroma chroma);

// The header line (with '\n') of the command's output: planar `chroma` at
// 60000/1001 (or the rate given), progressive, the input's size, aspect and
// X tags (not an XYSCSS subsampling hint: the C tag states the output's).
std::string FormatOutputHeader(const Y4mHeader& input, unsigned rateNumerator = 60000, unsigned rateDenominator = 1001,
                               Chroma chroma = Chroma::Yuv422);

// True when `line` (without '\n') is a valid frame header: "FRAME" alone or
// followed by a space and parameters.
bool IsFrameHeader(const std::string& line);

// Bytes of one frame's pixels: planar Y, U, V at 4:2:2 or 4:2:0.
size_t PlanarFrameBytes(int width, int height, Chroma chroma);
inline size_t PlanarFrameBytes(const Y4mHeader& h) { return PlanarFrameBytes(h.width, h.height, h.chroma); }

// How a stream frame lies in the packed YUY2 rows the filter works on:
// 4:2:0 chroma field by field, and bottom-field-first frames turned over
// (convert/planar_packed.h, whose conversions these wrap for frames whose
// planes lie one after the other).
struct PackedLayout {
  Chroma chroma = Chroma::Yuv422;  // of the planar stream frame
  bool mirrored = false;
};

// Stream rows converted as one unit: 4 for 4:2:0 (two chroma rows, one of
// each field), 1 for 4:2:2. Row ranges handed to the conversions start and
// end on whole units.
inline int RowsPerUnit(Chroma chroma) { return chroma == Chroma::Yuv420 ? 4 : 1; }

// Why frames of this size cannot be carried in `layout` (a 4:2:0 height that
// is not a multiple of 4, a mirrored odd height); empty when they can.
std::string LayoutProblem(int width, int height, const PackedLayout& layout);

// Planar frame (Y plane, then U, then V, rows packed) to YUY2 rows of
// 2 * width bytes placed `pitch` bytes apart. Width must be even.
void PlanarToPacked(const uint8_t* planar, int width, int height, uint8_t* packed, ptrdiff_t pitch,
                    const PackedLayout& layout = PackedLayout());

// The reverse: YUY2 rows `pitch` bytes apart into a packed planar frame.
void PackedToPlanar(const uint8_t* packed, ptrdiff_t pitch, int width, int height, uint8_t* planar,
                    const PackedLayout& layout = PackedLayout());

// Rows per band worth handing to another thread: about 64K pixels.
inline int MinBandRows(int width) { return width >= 65536 ? 1 : 65536 / width; }

// The same for stream rows [rowBegin, rowEnd) of a frame `height` rows high
// only (whole units of the layout), so that bands of one frame can be
// converted on different threads.
void PlanarToPackedRows(const uint8_t* planar, int width, int height, int rowBegin, int rowEnd, uint8_t* packed,
                        ptrdiff_t pitch, const PackedLayout& layout = PackedLayout());
void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int width, int height, int rowBegin, int rowEnd,
                        uint8_t* planar, const PackedLayout& layout = PackedLayout());

}  // namespace stream

#endif
