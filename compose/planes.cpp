// The stages of compose.cpp on every plane of a frame in one dispatch: each
// worker takes its band of every plane's rows.
#include "compose/planes.h"

#include <stddef.h>

#include "platform/crt.h"
#include "vfilter/vertical_filter.h"

namespace {

bool FieldChroma(FrameFormat format, int32_t plane) { return format == FormatYuv420 && plane > 0; }

// One plane of a stage, as its bands read it.
struct PlaneWork {
  const uint8_t* src;   // weave: upper's first row; filter: the base the offsets count from
  const uint8_t* src2;  // weave: lower's first row
  uint8_t* dst;
  int32_t srcPitch;
  int32_t src2Pitch;
  int32_t dstPitch;
  int32_t rowBytes;
  int32_t rows;  // weave: the plane's rows; filter: the rows the kernel makes, one per frame row
  int32_t taps;
  const int32_t* offsets;  // filter: rows * taps, from the first row on
  const CoefficientWord* coeffs;
  bool averaged;  // filter: 4:2:0 chroma, each field's two rows under a chroma row averaged into it
};

struct StageWork {
  int32_t planes;
  PlaneWork plane[MaxPlanes];
};

void WeaveBands(const void* context, int32_t index, int32_t count) {
  const StageWork& work = *static_cast<const StageWork*>(context);
  for (int32_t p = 0; p < work.planes; ++p) {
    const PlaneWork& w = work.plane[p];
    const size_t bytes = static_cast<size_t>(w.rowBytes);
    const int32_t pairs = w.rows / 2;
    const int32_t end = BandStart(pairs, index + 1, count);
    for (int32_t pair = BandStart(pairs, index, count); pair < end; ++pair) {
      const ptrdiff_t even = 2 * static_cast<ptrdiff_t>(pair);
      memcpy(w.dst + even * w.dstPitch, w.src + even * w.srcPitch, bytes);
      memcpy(w.dst + (even + 1) * w.dstPitch, w.src2 + (even + 1) * w.src2Pitch, bytes);
    }
    // An odd height's last row is the upper frame's; the last band takes it.
    if ((w.rows & 1) != 0 && index == count - 1) {
      const ptrdiff_t last = w.rows - 1;
      memcpy(w.dst + last * w.dstPitch, w.src + last * w.srcPitch, bytes);
    }
  }
}

inline uint8_t Mean(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// The kernel makes a unit's four rows (frame rows 4u to 4u + 3) this many
// bytes at a time into a buffer on the stack, which stays under the 4 KiB
// a Windows stack frame may take without probing.
constexpr int32_t ChunkBytes = 512;

// Chroma rows 2u (the top field's: the mean of frame rows 4u and 4u + 2)
// and 2u + 1 (the bottom field's: 4u + 1 and 4u + 3) for u in [begin, end).
void AveragedUnits(const PlaneWork& w, int32_t begin, int32_t end) {
  uint8_t made[4 * ChunkBytes];
  for (int32_t u = begin; u < end; ++u) {
    const ptrdiff_t first = 4 * static_cast<ptrdiff_t>(u) * w.taps;
    uint8_t* top = w.dst + 2 * static_cast<ptrdiff_t>(u) * w.dstPitch;
    uint8_t* bottom = top + w.dstPitch;
    for (int32_t x = 0; x < w.rowBytes; x += ChunkBytes) {
      const int32_t n = w.rowBytes - x < ChunkBytes ? w.rowBytes - x : ChunkBytes;
      VerticalFilterBytes(w.src + x, made, n, 4, w.taps, w.offsets + first, w.coeffs + first, ChunkBytes);
      for (int32_t i = 0; i < n; ++i) {
        top[x + i] = Mean(made[i], made[2 * ChunkBytes + i]);
        bottom[x + i] = Mean(made[ChunkBytes + i], made[3 * ChunkBytes + i]);
      }
    }
  }
}

void FilterBands(const void* context, int32_t index, int32_t count) {
  const StageWork& work = *static_cast<const StageWork*>(context);
  for (int32_t p = 0; p < work.planes; ++p) {
    const PlaneWork& w = work.plane[p];
    if (w.averaged) {
      const int32_t units = w.rows / 4;
      AveragedUnits(w, BandStart(units, index, count), BandStart(units, index + 1, count));
      continue;
    }
    const int32_t start = BandStart(w.rows, index, count), end = BandStart(w.rows, index + 1, count);
    if (end <= start) continue;
    const ptrdiff_t first = static_cast<ptrdiff_t>(start) * w.taps;
    VerticalFilterBytes(w.src, w.dst + static_cast<ptrdiff_t>(start) * w.dstPitch, w.rowBytes, end - start, w.taps,
                        w.offsets + first, w.coeffs + first, w.dstPitch);
  }
}

// The offsets of code's table for a plane's rows `pitch` apart: the
// table's own for rows 2 * width bytes apart (a plane with rows of its own),
// else the cache's, made and kept now if its slot is still free; a frame of
// another pitch than the kept one gets offsets of its own, in *own for the
// caller to free. Null without memory.
const int32_t* OffsetsFor(const FilterTables& tables, PlaneOffsets& cache, int32_t code, bool fieldChroma,
                          int32_t plane, int32_t width, int32_t pitch, int32_t** own) {
  const VerticalFilterTable& table = TableFor(tables, code);
  if (!fieldChroma && pitch == 2 * width) return table.offsets;
  int32_t** slot = &cache.entries[code == '5' ? 0 : code == '4' ? 1 : 2][plane];
  int32_t* kept = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (kept != nullptr && kept[0] == pitch) return kept + 1;
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  int32_t* made = static_cast<int32_t*>(malloc(sizeof(int32_t) * (entries + 1)));
  if (made == nullptr) return nullptr;
  made[0] = pitch;
  if (fieldChroma)
    FieldChromaOffsets(table, code, width, pitch, made + 1);
  else
    RescaleOffsets(table, code, width, pitch, made + 1);
  int32_t* expected = nullptr;
  if (kept == nullptr && __atomic_compare_exchange_n(slot, &expected, made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    return made + 1;
  *own = made;
  return made + 1;
}

}  // namespace

int32_t PlaneCount(FrameFormat format) { return format == FormatYuv422 || format == FormatYuv420 ? 3 : 1; }

int32_t PlaneRowBytes(FrameFormat format, int32_t plane, int32_t width) {
  if (format == FormatYuy2) return 2 * width;
  return plane == 0 ? width : width / 2;
}

int32_t PlaneRows(FrameFormat format, int32_t plane, int32_t height) {
  return FieldChroma(format, plane) ? height / 2 : height;
}

FramePlanes TurnedOver(const FramePlanes& planes, FrameFormat format, int32_t height) {
  FramePlanes turned = planes;
  for (int32_t p = 0; p < PlaneCount(format); ++p) {
    turned.plane[p] = planes.plane[p] + static_cast<ptrdiff_t>(PlaneRows(format, p, height) - 1) * planes.pitch[p];
    turned.pitch[p] = -planes.pitch[p];
  }
  return turned;
}

FramePlanes PlanesOfFrame(const uint8_t* data, FrameFormat format, int32_t width, int32_t height, bool turned) {
  FramePlanes planes{};
  uint8_t* at = const_cast<uint8_t*>(data);
  for (int32_t p = 0; p < PlaneCount(format); ++p) {
    planes.plane[p] = at;
    planes.pitch[p] = PlaneRowBytes(format, p, width);
    at += static_cast<size_t>(planes.pitch[p]) * static_cast<size_t>(PlaneRows(format, p, height));
  }
  return turned ? TurnedOver(planes, format, height) : planes;
}

void FreePlaneOffsets(PlaneOffsets& cache) {
  for (auto& code : cache.entries) {
    for (int32_t*& entry : code) {
      free(entry);
      entry = nullptr;
    }
  }
}

void FieldChromaOffsets(const VerticalFilterTable& table, int32_t code, int32_t width, int32_t pitch,
                        int32_t* offsets) {
  // The tables step 4 * width bytes per field row and 2 * width per frame
  // row, from the frame's first row, or its second for the bottom field.
  // The clip's size checks keep the table's row step within 31 bits.
  const bool fieldTable = code != '3';
  const uint32_t tableStep = (fieldTable ? 4u : 2u) * static_cast<uint32_t>(width);
  const int32_t firstRow = code == '4' ? 1 : 0;
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  for (size_t e = 0; e < entries; ++e) {
    const int32_t row = static_cast<int32_t>(static_cast<uint32_t>(table.offsets[e]) / tableStep);
    const int32_t frameRow = firstRow + (fieldTable ? 2 * row : row);
    const int32_t chromaRow = 2 * (frameRow >> 2) + (frameRow & 1);
    offsets[e] = static_cast<int32_t>(static_cast<int64_t>(chromaRow) * pitch);
  }
}

void WeavePlanes(WorkerPool& pool, FrameFormat format, const FramePlanes& upper, const FramePlanes& lower,
                 const FramePlanes& woven, int32_t width, int32_t height) {
  StageWork work{};
  work.planes = PlaneCount(format);
  for (int32_t p = 0; p < work.planes; ++p) {
    PlaneWork& w = work.plane[p];
    w.src = upper.plane[p];
    w.src2 = lower.plane[p];
    w.dst = woven.plane[p];
    w.srcPitch = upper.pitch[p];
    w.src2Pitch = lower.pitch[p];
    w.dstPitch = woven.pitch[p];
    w.rowBytes = PlaneRowBytes(format, p, width);
    w.rows = PlaneRows(format, p, height);
  }
  DispatchCall(pool, WeaveBands, &work);
}

bool FinishPlanes(WorkerPool& pool, const FilterTables& tables, PlaneOffsets& cache, int32_t code, FrameFormat format,
                  const FramePlanes& selected, FrameFormat outputFormat, const FramePlanes& output, int32_t width,
                  int32_t height) {
  const VerticalFilterTable& table = TableFor(tables, code);
  StageWork work{};
  work.planes = PlaneCount(format);
  int32_t* own[MaxPlanes] = {nullptr, nullptr, nullptr};
  bool ready = true;
  for (int32_t p = 0; p < work.planes && ready; ++p) {
    const bool fieldChroma = FieldChroma(format, p);
    const int32_t pitch = selected.pitch[p];
    PlaneWork& w = work.plane[p];
    w.offsets = OffsetsFor(tables, cache, code, fieldChroma, p, width, pitch, &own[p]);
    ready = w.offsets != nullptr;
    // The bottom field starts one row down; 4:2:0 chroma offsets count that row in.
    w.src = selected.plane[p] + (code == '4' && !fieldChroma ? pitch : 0);
    w.dst = output.plane[p];
    w.dstPitch = output.pitch[p];
    w.rowBytes = PlaneRowBytes(format, p, width);
    w.rows = height;
    w.taps = table.taps;
    w.coeffs = table.coeffs;
    w.averaged = fieldChroma && outputFormat == FormatYuv420;
  }
  if (ready) DispatchCall(pool, FilterBands, &work);
  for (int32_t*& block : own) free(block);
  return ready;
}
