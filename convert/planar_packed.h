// The conversions between planar 8-bit YUV frames (4:2:2, 4:2:0 or luma
// alone) and the packed YUY2 rows the filter works on, for every front end:
// the command's Y4M streams and the hosts' planar clips go through these same
// functions, so a frame gets the same bytes whichever way it comes.
//
// 4:2:0 chroma is carried field by field. In an interlaced 4:2:0 frame,
// chroma row 2i belongs to the top field and covers its luma rows 4i and
// 4i+2; chroma row 2i+1 belongs to the bottom field and covers luma rows
// 4i+1 and 4i+3. Each packed row gets the chroma row of its own field that
// covers it, so the filter's weave of row pairs moves a field's chroma with
// its luma, and a frame woven from whole fields gives back exactly the
// chroma rows its fields brought. Back to 4:2:0, each chroma row is the mean
// of the two packed rows of its field that it covers (rounded up): the same
// byte where the two are copies, a field-aware reduction where the filter
// made new rows.
//
// A mirrored layout holds planar row height-1-r in packed row r. For a
// bottom-field-first source of even height this swaps the fields, so the
// filter, which weaves a top field over the bottom field before it, sees the
// source's first field as its top field.
//
// Built into the Windows modules too: no C or C++ library here.
#ifndef ZEMIVTC_CONVERT_PLANAR_PACKED_H
#define ZEMIVTC_CONVERT_PLANAR_PACKED_H

#include <stddef.h>
#include <stdint.h>

// How the planar frame's chroma lies.
enum PlanarChroma : int32_t {
  PlanarYuv422 = 0,  // one chroma row per luma row, half width
  PlanarYuv420 = 1,  // one chroma row per two luma rows of one field, half width
  PlanarGray = 2,    // luma only: packed chroma is written as 128 and never read back
};

// Three planes and their byte pitches. The chroma planes share one pitch;
// they are unused (and may be null) for PlanarGray.
struct PlanarFrame {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  ptrdiff_t yPitch;
  ptrdiff_t uvPitch;
};

struct PackedLayout {
  PlanarChroma chroma;
  bool mirrored;  // packed row r holds planar row height-1-r
};

// Planar rows converted as one unit: 4 for 4:2:0 (two chroma rows, one of
// each field), 1 otherwise. Row ranges handed to the conversions start and
// end on whole units.
inline int32_t RowsPerUnit(PlanarChroma chroma) { return chroma == PlanarYuv420 ? 4 : 1; }

// Why frames of width x height cannot be carried in packed rows of `layout`
// (an odd width, a 4:2:0 height that is not a multiple of 4, a mirrored odd
// height): writes the message, which names the size and what to do, with a
// terminating zero into `text` (LayoutProblemBytes at most) and returns true;
// returns false, writing nothing, when they can. Every front end refuses
// with these words; `cropHint` names the tools that crop or pad in its
// host (the command's and the VapourSynth plugin's: CommandCropHint).
constexpr int32_t LayoutProblemBytes = 320;
constexpr const char* CommandCropHint = "ffmpeg -vf crop or pad";
bool LayoutProblemText(int32_t width, int32_t height, const PackedLayout& layout, const char* cropHint, char* text);

// Planar rows [rowBegin, rowEnd) of a frame `height` rows high to YUY2 rows
// of 2 * width bytes placed `pitch` bytes apart. Width must be even; reads
// only the planes' own rows and writes only the packed rows it makes.
void PlanarToPackedRows(const PlanarFrame& planar, int32_t width, int32_t height, int32_t rowBegin, int32_t rowEnd,
                        uint8_t* packed, ptrdiff_t pitch, const PackedLayout& layout);

// The packed rows of one field only (rows field, field + 2, ...: 0 the top
// field, 1 the bottom), each as PlanarToPackedRows makes it, from the planar
// rows that land there. For a host front end whose filter reads one field of
// a frame (a field rebuild), or two fields of two frames (a weave).
void PlanarToPackedField(const PlanarFrame& planar, int32_t width, int32_t height, int32_t field, uint8_t* packed,
                         ptrdiff_t pitch, const PackedLayout& layout);

// The reverse, for the same rows: packed rows `pitch` apart into the planes.
void PackedToPlanarRows(const uint8_t* packed, ptrdiff_t pitch, int32_t width, int32_t height, int32_t rowBegin,
                        int32_t rowEnd, const PlanarFrame& planar, const PackedLayout& layout);

// One chroma plane between 4:2:2 and 4:2:0, field by field, for frame rows
// [rowBegin, rowEnd) (whole units of 4 rows), both planes upright and
// `chromaBytes` bytes wide: what a trip through packed rows gives. To 4:2:0,
// chroma row c is the mean, rounded up, of the 4:2:2 rows of its field that
// it covers (PackedToPlanarRows' mean); to 4:2:2, every frame row takes the
// 4:2:0 chroma row of its field that covers it (PlanarToPackedRows' rows).
void ChromaTo420Rows(const uint8_t* from, ptrdiff_t fromPitch, uint8_t* to, ptrdiff_t toPitch, int32_t chromaBytes,
                     int32_t rowBegin, int32_t rowEnd);
void ChromaTo422Rows(const uint8_t* from, ptrdiff_t fromPitch, uint8_t* to, ptrdiff_t toPitch, int32_t chromaBytes,
                     int32_t rowBegin, int32_t rowEnd);

#endif
