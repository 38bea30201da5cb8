// The two stages of a frame request (compose.h) on a frame's planes, for
// every layout the front ends carry: packed YUY2, planar 8-bit 4:2:2, 4:2:0
// and luma alone. The vertical filter treats every byte column alike, so
// each plane filtered on its own gives the bytes the packed rows would,
// as long as each plane's taps read the rows the packed frame's taps read.
//
// Planes are handed over in packed row space: row r of every plane is the
// frame row the filter sees as row r. A bottom-field-first frame is turned
// over by giving each plane a pointer to its last row and a negative pitch
// (TurnedOver); for 4:2:0 of a height that is a multiple of 4 this is
// exactly the turned-over layout of convert/planar_packed.h.
//
// 4:2:0 chroma is carried field by field, as convert/planar_packed.h
// carries it: chroma row 2i+f belongs to field f and covers frame rows
// 4i+f and 4i+f+2. A filter tap that reads frame row p reads chroma row
// 2 * (p / 4) + p % 2; the filter makes one chroma row per frame row, and
// chroma row c is the mean, rounded up, of the two of those rows of its
// field that it covers.
//
// Built into the Windows modules too: no C or C++ library here.
#ifndef ZEMIVTC_COMPOSE_PLANES_H
#define ZEMIVTC_COMPOSE_PLANES_H

#include <stdint.h>

#include "compose/compose.h"
#include "convert/planar_packed.h"
#include "workers/worker_pool.h"

enum FrameFormat : int32_t {
  FormatYuy2 = 0,    // one plane of 2 * width bytes a row
  FormatYuv422 = 1,  // Y width bytes a row; U and V width / 2, every frame row
  FormatYuv420 = 2,  // Y; U and V width / 2 bytes, height / 2 rows (height a multiple of 4)
  FormatLuma = 3,    // Y alone
};

constexpr int32_t MaxPlanes = 3;

// The format of a planar frame of convert/planar_packed.h's chroma.
inline FrameFormat PlanarFormat(PlanarChroma chroma) {
  return chroma == PlanarYuv420 ? FormatYuv420 : chroma == PlanarGray ? FormatLuma : FormatYuv422;
}

// A frame's planes and their byte pitches, in packed row space. Planes the
// format lacks are unused. Source frames are only read.
struct FramePlanes {
  uint8_t* plane[MaxPlanes];
  int32_t pitch[MaxPlanes];
};

int32_t PlaneCount(FrameFormat format);
// Bytes of one row of `plane`, and its rows, in a frame of width x height.
int32_t PlaneRowBytes(FrameFormat format, int32_t plane, int32_t width);
int32_t PlaneRows(FrameFormat format, int32_t plane, int32_t height);

// The same planes turned over: each plane's last row first, pitch negated.
FramePlanes TurnedOver(const FramePlanes& planes, FrameFormat format, int32_t height);

// The planes of a frame of `format` stored at `data` plane after plane, rows
// packed (a Y4M frame's layout), in the filter's row order: turned over
// (TurnedOver) for a bottom-field-first source.
FramePlanes PlanesOfFrame(const uint8_t* data, FrameFormat format, int32_t width, int32_t height, bool turned);

// The tables' source offsets for the pitch of each plane they are used on
// (a plane's own rows, or 4:2:0 chroma's rows of each field), made at the
// first frame of that pitch and kept. Entries are published once with an
// atomic store, so threads may share one cache; a frame of another pitch
// than the kept one gets offsets of its own for that call.
struct PlaneOffsets {
  int32_t* entries[3][MaxPlanes];  // codes '5', '4', '3'; each the pitch, then the offsets; null: none yet
};

// Frees every kept entry and clears the cache.
void FreePlaneOffsets(PlaneOffsets& cache);

// Stage one on every plane: even rows of `upper`, odd rows of `lower` into
// `woven` (for 4:2:0 chroma, whose rows alternate fields as the frame's
// do, even chroma rows from upper); an odd height's last row is upper's.
void WeavePlanes(WorkerPool& pool, FrameFormat format, const FramePlanes& upper, const FramePlanes& lower,
                 const FramePlanes& woven, int32_t width, int32_t height);

// Stage two on every plane: `selected` finished by code '3', '4' or '5'
// into `output`. `outputFormat` is `format`, or FormatYuv422 for a
// FormatYuv420 frame: its chroma planes then get the chroma row the filter
// makes for every frame row, before the two rows of each field are
// averaged (the chroma a 4:2:2 output carries). False when memory for the
// offsets runs out; nothing is written then.
bool FinishPlanes(WorkerPool& pool, const FilterTables& tables, PlaneOffsets& cache, int32_t code, FrameFormat format,
                  const FramePlanes& selected, FrameFormat outputFormat, const FramePlanes& output, int32_t width,
                  int32_t height);

// Source offsets of `table` (of code `code`, built for frames of `width`)
// for 4:2:0 chroma rows `pitch` bytes apart, from the chroma plane's first
// row (the bottom field's start included): `offsets` receives rows * taps
// entries.
void FieldChromaOffsets(const VerticalFilterTable& table, int32_t code, int32_t width, int32_t pitch, int32_t* offsets);

#endif
