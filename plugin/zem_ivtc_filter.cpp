#include "plugin/zem_ivtc_filter.h"

#include "platform/crt.h"

ZemIvtcFilter::ZemIvtcFilter(PClip clip, uint8_t* planData_, int32_t planSize_, IScriptEnvironment* env)
    : GenericVideoFilter(clip), planSize(planSize_), planData(planData_) {
  if (!StartWorkers(pool)) {
    FreeResources();
    env->ThrowError("Cannot start worker threads");
  }

  frameCount = CountPlanFrames(planData, planSize);
  SetOutputProperties(vi, frameCount);

  // Field rebuilds read every other frame row; smoothing reads every row.
  const int32_t width = vi.width;
  const int32_t height = vi.height;
  BuildLanczosTable(height >> 1, height, topFieldTable, 4 * width, -0.4);
  BuildLanczosTable(height >> 1, height, bottomFieldTable, 4 * width, +0.4);
  BuildSmoothTable(height, smoothTable, 2 * width);

  frameTable = static_cast<FramePlanEntry*>(malloc(sizeof(FramePlanEntry) * (frameCount ? frameCount : 1)));
  if (!frameTable || !topFieldTable.coeffs || !bottomFieldTable.coeffs || !smoothTable.coeffs) {
    FreeResources();
    env->ThrowError("Out of memory");
  }
  FillFrameTable(planData, planSize, frameTable);
}

ZemIvtcFilter::~ZemIvtcFilter() { FreeResources(); }

void* ZemIvtcFilter::operator new(size_t bytes) noexcept { return malloc(bytes); }

void ZemIvtcFilter::operator delete(void* block) noexcept { free(block); }

void ZemIvtcFilter::FreeResources() {
  StopWorkers(pool);
  free(planData);
  planData = nullptr;
  free(frameTable);
  frameTable = nullptr;
  FreeTable(topFieldTable);
  FreeTable(bottomFieldTable);
  FreeTable(smoothTable);
  for (PitchedOffsets& p : pitchedOffsets) {
    free(p.offsets);
    p = PitchedOffsets{};
  }
}

const int32_t* ZemIvtcFilter::OffsetsFor(int tableIndex, int32_t pitch, IScriptEnvironment* env) {
  const VerticalFilterTable* tables[3] = {&topFieldTable, &bottomFieldTable, &smoothTable};
  const VerticalFilterTable& table = *tables[tableIndex];
  if (pitch == 2 * vi.width) return table.offsets;

  PitchedOffsets& cached = pitchedOffsets[tableIndex];
  if (cached.pitch == pitch) return cached.offsets;

  // The tables step 4 * width bytes per field row and 2 * width per frame
  // row; at another pitch the same rows lie 2 * pitch and pitch bytes apart.
  // Offsets are never negative, and the clip's size checks keep the table's
  // row step within 31 bits: 32-bit unsigned division finds the row.
  const bool fieldTable = tableIndex < 2;
  const uint32_t tableStep = (fieldTable ? 4u : 2u) * static_cast<uint32_t>(vi.width);
  const int64_t step = (fieldTable ? 2 : 1) * static_cast<int64_t>(pitch);
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  int32_t* offsets = static_cast<int32_t*>(realloc(cached.offsets, sizeof(int32_t) * (entries ? entries : 1)));
  if (!offsets) env->ThrowError("Out of memory");
  for (size_t e = 0; e < entries; ++e) {
    const int64_t row = static_cast<uint32_t>(table.offsets[e]) / tableStep;
    offsets[e] = static_cast<int32_t>(row * step);
  }
  cached.pitch = pitch;
  cached.offsets = offsets;
  return offsets;
}
