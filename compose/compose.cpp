// The two stages of a frame request: select the frame at the entry's field
// position (a source frame itself, or the weave of two neighbours), then
// finish it by the entry's code. The caller only fills jobs and waits.
#include "compose/compose.h"

#include <stddef.h>

bool BuildFilterTables(int32_t width, int32_t height, FilterTables& tables) {
  // Field rebuilds read every other frame row; smoothing reads every row.
  BuildLanczosTable(height >> 1, height, tables.topFieldTable, 4 * width, -0.4);
  BuildLanczosTable(height >> 1, height, tables.bottomFieldTable, 4 * width, +0.4);
  BuildSmoothTable(height, tables.smoothTable, 2 * width);
  if (tables.topFieldTable.coeffs && tables.bottomFieldTable.coeffs && tables.smoothTable.coeffs) return true;
  FreeFilterTables(tables);
  return false;
}

void FreeFilterTables(FilterTables& tables) {
  FreeTable(tables.topFieldTable);
  FreeTable(tables.bottomFieldTable);
  FreeTable(tables.smoothTable);
}

FrameRecipe RecipeFor(const FramePlanEntry& entry) {
  const bool odd = (entry.position & 1u) != 0;
  const int32_t k = static_cast<int32_t>(entry.position >> 1);
  FrameRecipe recipe;
  // Codes '2' and '6' rebuild the field that matches the position's parity.
  recipe.code = entry.code == '2' || entry.code == '6' ? (odd ? '4' : '5') : entry.code;
  recipe.upper = odd ? k + 1 : k;
  recipe.lower = k;
  // A field rebuild reads one field of the weave, which is that field of
  // one source frame as it stands: it reads it there and skips the copy.
  recipe.woven = odd && recipe.code != '4' && recipe.code != '5';
  return recipe;
}

const VerticalFilterTable& TableFor(const FilterTables& tables, int32_t code) {
  return code == '3' ? tables.smoothTable : code == '4' ? tables.bottomFieldTable : tables.topFieldTable;
}

void RescaleOffsets(const VerticalFilterTable& table, int32_t code, int32_t width, int32_t pitch, int32_t* offsets) {
  // The tables step 4 * width bytes per field row and 2 * width per frame
  // row; at another pitch the same rows lie 2 * pitch and pitch bytes apart.
  // Offsets are never negative, and the clip's size checks keep the table's
  // row step within 31 bits: 32-bit unsigned division finds the row.
  const bool fieldTable = code != '3';
  const uint32_t tableStep = (fieldTable ? 4u : 2u) * static_cast<uint32_t>(width);
  const int64_t step = (fieldTable ? 2 : 1) * static_cast<int64_t>(pitch);
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  for (size_t e = 0; e < entries; ++e) {
    const int64_t row = static_cast<uint32_t>(table.offsets[e]) / tableStep;
    offsets[e] = static_cast<int32_t>(row * step);
  }
}

void WeaveFrames(WorkerPool& pool, const uint8_t* upper, int32_t upperPitch, const uint8_t* lower, int32_t lowerPitch,
                 uint8_t* woven, int32_t wovenPitch, int32_t width, int32_t height) {
  DispatchBands(pool, height / 2, WeaveJob, [&](WorkerJob& job, int32_t start, int32_t end) {
    job.src = upper + static_cast<ptrdiff_t>(start) * 2 * upperPitch;
    job.src2 = lower + static_cast<ptrdiff_t>(start) * 2 * lowerPitch;
    job.dst = woven + static_cast<ptrdiff_t>(start) * 2 * wovenPitch;
    job.width = width;
    // An odd height leaves a last even row: the band that ends the frame
    // takes it from frame k+1, like every other even row.
    job.rows = 2 * (end - start) + ((height & 1) && IsLastBand(pool, job) ? 1 : 0);
    job.srcStride = upperPitch;
    job.src2Stride = lowerPitch;
    job.dstStride = wovenPitch;
  });
}

void FinishFrame(WorkerPool& pool, const FilterTables& tables, int32_t code, const int32_t* offsets,
                 const uint8_t* selected, int32_t selectedPitch, uint8_t* output, int32_t outputPitch, int32_t width,
                 int32_t height) {
  const VerticalFilterTable& table = TableFor(tables, code);
  // The bottom field starts one row down.
  const uint8_t* sourceBase = selected + (code == '4' ? selectedPitch : 0);
  const int32_t taps = table.taps;
  DispatchBands(pool, height, FilterJob, [&](WorkerJob& job, int32_t start, int32_t end) {
    job.src = sourceBase;
    job.dst = output + static_cast<ptrdiff_t>(start) * outputPitch;
    job.width = width;
    job.rows = end - start;
    job.taps = taps;
    job.offsets = offsets + static_cast<ptrdiff_t>(start) * taps;
    job.coeffs = table.coeffs + static_cast<ptrdiff_t>(start) * taps;
    job.srcStride = selectedPitch;
    job.dstStride = outputPitch;
  });
}
