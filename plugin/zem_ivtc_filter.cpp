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

  const bool tablesBuilt = BuildFilterTables(vi.width, vi.height, tables);
  frameTable = static_cast<FramePlanEntry*>(malloc(sizeof(FramePlanEntry) * (frameCount ? frameCount : 1)));
  if (!frameTable || !tablesBuilt) {
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
  FreeFilterTables(tables);
  for (PitchedOffsets& p : pitchedOffsets) {
    free(p.offsets);
    p = PitchedOffsets{};
  }
}

const int32_t* ZemIvtcFilter::OffsetsFor(int32_t code, int32_t pitch, IScriptEnvironment* env) {
  const VerticalFilterTable& table = TableFor(tables, code);
  if (pitch == 2 * vi.width) return table.offsets;

  PitchedOffsets& cached = pitchedOffsets[code == '5' ? 0 : code == '4' ? 1 : 2];
  if (cached.pitch == pitch) return cached.offsets;
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  int32_t* offsets = static_cast<int32_t*>(realloc(cached.offsets, sizeof(int32_t) * (entries ? entries : 1)));
  if (!offsets) env->ThrowError("Out of memory");
  RescaleOffsets(table, code, vi.width, pitch, offsets);
  cached.pitch = pitch;
  cached.offsets = offsets;
  return offsets;
}

// Selects the frame at the entry's field position (the source frame itself,
// or the weave of two neighbours), then finishes it by the entry's code.
PVideoFrame AVSC_CC ZemIvtcFilter::GetFrame(int n, IScriptEnvironment* env) {
  if (frameCount <= 0) env->ThrowError("The plan makes no frames");
  n = n < 0 ? 0 : n >= frameCount ? frameCount - 1 : n;
  const FrameRecipe recipe = RecipeFor(frameTable[n]);

  PVideoFrame selected;
  if (recipe.upper == recipe.lower) {
    selected = child->GetFrame(recipe.upper, env);
  } else {
    // Frame k+1 first, then frame k, as the weave reads them.
    PVideoFrame upper = child->GetFrame(recipe.upper, env);
    PVideoFrame lower = child->GetFrame(recipe.lower, env);
    if (!recipe.woven) {
      selected = recipe.code == '4' ? lower : upper;
    } else {
      selected = env->NewVideoFrame(vi, 16);
      WeaveFrames(pool, upper->GetReadPtr(), upper->GetPitch(), lower->GetReadPtr(), lower->GetPitch(),
                  selected->GetWritePtr(), selected->GetPitch(), vi.width, vi.height);
    }
  }
  if (recipe.code == '1') return selected;

  const int32_t pitch = selected->GetPitch();
  const int32_t* offsets = OffsetsFor(recipe.code, pitch, env);
  PVideoFrame output = env->NewVideoFrame(vi, 16);
  FinishFrame(pool, tables, recipe.code, offsets, selected->GetReadPtr(), pitch, output->GetWritePtr(),
              output->GetPitch(), vi.width, vi.height);
  return output;
}
