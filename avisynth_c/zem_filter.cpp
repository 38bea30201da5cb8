// Frame requests: the source frames the plan entry names, turned into packed
// rows where they are not (planar clips through convert/, bottom field first
// turned over), the core's two stages, and the rows back into a new frame.
// The version-2 module runs the same stages on YUY2 frames as the host gives
// them; for a top-field-first YUY2 clip this is exactly that path.
#include "avisynth_c/zem_filter.h"

#include "avisynth_c/shared_pool.h"
#include "platform/crt.h"
#include "platform/text.h"

AvsApi avs;

namespace {

// Rows of packed YUY2 bytes: a host frame's, one turned over (the last row
// first, a negative pitch), or a scratch frame's.
struct Rows {
  uint8_t* p;
  int32_t pitch;
};

AvsVideoFrame* Fail(AvsFilterInfo* fi, const char* message) {
  fi->error = message;
  return nullptr;
}

// Source frame k (clamped to the clip), or null with the child's error in
// fi->error: AviSynth 2.6 would not pass the child's error on by itself.
AvsVideoFrame* SourceFrame(AvsFilterInfo* fi, ZemInstance& z, int32_t k) {
  k = k < 0 ? 0 : k > z.lastSource ? z.lastSource : k;
  AvsVideoFrame* frame = avs.getFrame(fi->child, k);
  if (frame != nullptr) return frame;
  const char* childError = avs.clipGetError(fi->child);
  TextBuffer t = StartText(z.error, sizeof z.error);
  if (childError != nullptr && *childError)
    t << childError;
  else
    t << "ZEMIVTC: the source clip gave no frame " << k;
  return Fail(fi, z.error);
}

PlanarFrame Planes(AvsVideoFrame* frame, bool writable) {
  uint8_t* p[3];
  const int planes[3] = {AvsPlaneY, AvsPlaneU, AvsPlaneV};
  for (int i = 0; i < 3; ++i) {
    p[i] = writable ? AvsWritePtr(avs, frame, planes[i]) : const_cast<uint8_t*>(AvsReadPtr(avs, frame, planes[i]));
  }
  return PlanarFrame{p[0], p[1], p[2], AvsPitch(avs, frame, AvsPlaneY), AvsPitch(avs, frame, AvsPlaneU)};
}

// A YUY2 frame's rows, turned over for a bottom-field-first clip.
Rows PackedRows(const ZemInstance& z, uint8_t* first, int32_t pitch) {
  if (!z.layout.mirrored) return Rows{first, pitch};
  return Rows{first + static_cast<ptrdiff_t>(z.height - 1) * pitch, -pitch};
}

// A source frame as packed rows: the host's own for YUY2; for planar clips
// converted into `buffer`, every row or (field 0 top, 1 bottom) the rows of
// the one field the filter reads.
Rows SourceRows(const ZemInstance& z, AvsVideoFrame* frame, uint8_t* buffer, int32_t field) {
  if (!z.planar) {
    return PackedRows(z, const_cast<uint8_t*>(AvsReadPtr(avs, frame, AvsPlaneDefault)),
                      AvsPitch(avs, frame, AvsPlaneDefault));
  }
  const PlanarFrame planes = Planes(frame, false);
  if (field < 0) PlanarToPackedRows(planes, z.width, z.height, 0, z.height, buffer, 2 * z.width, z.layout);
  if (field >= 0) PlanarToPackedField(planes, z.width, z.height, field, buffer, 2 * z.width, z.layout);
  return Rows{buffer, 2 * z.width};
}

// The offsets of a code's table for a selected frame of this pitch.
const int32_t* OffsetsFor(ZemInstance& z, int32_t code, int32_t pitch) {
  const VerticalFilterTable& table = TableFor(z.tables, code);
  if (pitch == 2 * z.width) return table.offsets;
  RescaledOffsets& cached = z.rescaled[code == '5' ? 0 : code == '4' ? 1 : 2];
  if (cached.pitch == pitch && cached.offsets != nullptr) return cached.offsets;
  const size_t entries = static_cast<size_t>(table.rows) * static_cast<size_t>(table.taps);
  int32_t* offsets = static_cast<int32_t*>(realloc(cached.offsets, sizeof(int32_t) * (entries ? entries : 1)));
  if (offsets == nullptr) return nullptr;
  RescaleOffsets(table, code, z.width, pitch, offsets);
  cached = RescaledOffsets{pitch, offsets};
  return offsets;
}

// _FieldBased = 0 and the frame's duration, as the command's timecodes give it.
void SetTimes(AvsFilterInfo* fi, const ZemInstance& z, AvsVideoFrame* frame, int32_t n) {
  AvsMap* props = avs.getFramePropsRw(fi->env, frame);
  if (props == nullptr) return;
  avs.propSetInt(fi->env, props, "_FieldBased", 0, AvsPropReplace);
  int64_t numerator = 0, denominator = 1;
  if (!DurationSeconds(z.plan->times[n], z.plan->times[n + 1], &numerator, &denominator)) return;
  avs.propSetInt(fi->env, props, "_DurationNum", numerator, AvsPropReplace);
  avs.propSetInt(fi->env, props, "_DurationDen", denominator, AvsPropReplace);
}

// Makes the output frame of `recipe` from its source frames (`lower` equals
// `upper` at even positions). Null with fi->error set on failure.
AvsVideoFrame* Compose(AvsFilterInfo* fi, ZemInstance& z, const FrameRecipe& recipe, AvsVideoFrame* upper,
                       AvsVideoFrame* lower) {
  AvsVideoFrame* output = avs.newVideoFrameP != nullptr ? avs.newVideoFrameP(fi->env, &fi->vi, upper)
                                                        : avs.newVideoFrameA(fi->env, &fi->vi, 16);
  if (output == nullptr) return Fail(fi, "Out of memory");
  const int32_t w = z.width, h = z.height;
  // Planar: the weave (or the source) in one scratch frame, the result in
  // the other. YUY2: the result straight into the new frame.
  uint8_t* const a = z.scratch;
  uint8_t* const b = a + static_cast<size_t>(2) * w * h;
  Rows target{recipe.woven && recipe.code != '1' ? a : b, 2 * w};
  if (!z.planar) {
    target = PackedRows(z, AvsWritePtr(avs, output, AvsPlaneDefault), AvsPitch(avs, output, AvsPlaneDefault));
  }
  const PlanarFrame outPlanes = z.planar ? Planes(output, true) : PlanarFrame{};
  if (target.p == nullptr || (z.planar && (!outPlanes.y || !outPlanes.u || !outPlanes.v))) {
    avs.releaseVideoFrame(output);
    return Fail(fi, "ZEMIVTC: the host gave a new frame that cannot be written");
  }

  Rows selected;
  if (recipe.woven) {
    selected = recipe.code == '1' ? target : Rows{z.planar ? b : a, 2 * w};
    if (z.planar) {
      // Each source's own field converted straight into its rows of the weave.
      SourceRows(z, upper, selected.p, 0);
      SourceRows(z, lower, selected.p, 1);
    } else {
      const Rows up = SourceRows(z, upper, nullptr, -1), low = SourceRows(z, lower, nullptr, -1);
      WorkerPool* pool = TakeSharedPool();
      WorkerPool none{};
      WeaveFrames(pool ? *pool : none, up.p, up.pitch, low.p, low.pitch, selected.p, selected.pitch, w, h);
      if (pool) GiveBackSharedPool();
    }
  } else {
    // Smoothing reads both fields, a field rebuild one (the bottom for '4').
    const int32_t field = recipe.code == '3' ? -1 : recipe.code == '4' ? 1 : 0;
    selected = SourceRows(z, recipe.code == '4' ? lower : upper, a, field);
  }
  if (recipe.code != '1') {
    const int32_t* offsets = OffsetsFor(z, recipe.code, selected.pitch);
    if (offsets == nullptr) {
      avs.releaseVideoFrame(output);
      return Fail(fi, "Out of memory");
    }
    WorkerPool* pool = TakeSharedPool();
    WorkerPool none{};
    FinishFrame(pool ? *pool : none, z.tables, recipe.code, offsets, selected.p, selected.pitch, target.p, target.pitch,
                w, h);
    if (pool) GiveBackSharedPool();
  }
  if (z.planar) PackedToPlanarRows(target.p, 2 * w, w, h, 0, h, outPlanes, z.layout);
  return output;
}

AvsVideoFrame* AVSC_CC ZemGetFrame(AvsFilterInfo* fi, int n) {
  ZemInstance& z = *static_cast<ZemInstance*>(fi->userData);
  if (z.plan->frameCount <= 0) return Fail(fi, "The plan makes no frames");
  n = n < 0 ? 0 : n >= z.plan->frameCount ? z.plan->frameCount - 1 : n;
  const FrameRecipe recipe = RecipeFor(z.plan->frames[n]);

  // Frame k+1 first, then frame k, as the weave reads them; a field rebuild
  // at an odd position needs only the frame that holds its field.
  const bool even = recipe.upper == recipe.lower;
  const bool wantUpper = even || recipe.woven || recipe.code == '5';
  const bool wantLower = !even && (recipe.woven || recipe.code == '4');
  AvsVideoFrame* upper = wantUpper ? SourceFrame(fi, z, recipe.upper) : nullptr;
  if (wantUpper && upper == nullptr) return nullptr;
  AvsVideoFrame* lower = wantLower ? SourceFrame(fi, z, recipe.lower) : upper;
  if (lower == nullptr) {
    if (upper != nullptr) avs.releaseVideoFrame(upper);
    return nullptr;
  }
  if (upper == nullptr) upper = lower;

  AvsVideoFrame* output = nullptr;
  if (recipe.code == '1' && !recipe.woven) {
    // The source frame itself; its own copy first where properties are set.
    output = upper;
    if (z.setProperties) avs.makeWritable(fi->env, &output);
  } else {
    output = Compose(fi, z, recipe, upper, lower);
    avs.releaseVideoFrame(upper);
  }
  if (lower != upper) avs.releaseVideoFrame(lower);
  if (output != nullptr && z.setProperties) SetTimes(fi, z, output, n);
  return output;
}

// A test build answers another mode (tests/avisynth_c: the stand-in host must
// catch the wrong one).
#if !defined(ZEMIVTC_C_MT_MODE)
#define ZEMIVTC_C_MT_MODE AvsMtMultiInstance
#endif

int AVSC_CC ZemSetCacheHints(AvsFilterInfo*, int hints, int) {
  // The error slots a C filter reports through are one per instance, and so
  // are its scratch frames: instances must not serve frames concurrently (no
  // NICE_FILTER). The instances share nothing but read-only plans and the
  // pool, so one per host thread is right, and the pool keeps the threads in
  // bounds.
  return hints == AvsCacheGetMtMode ? ZEMIVTC_C_MT_MODE : 0;
}

void FreeInstance(ZemInstance* z) {
  ReleasePlan(z->plan);
  FreeFilterTables(z->tables);
  free(z->scratch);
  for (RescaledOffsets& r : z->rescaled) free(r.offsets);
  free(z);
}

void AVSC_CC ZemFreeFilter(AvsFilterInfo* fi) {
  FreeInstance(static_cast<ZemInstance*>(fi->userData));
  fi->userData = nullptr;
  PoolUserRemoved();
}

}  // namespace

bool StartInstance(AvsFilterInfo* fi, const ZemInstance& settings) {
  ZemInstance* z = static_cast<ZemInstance*>(malloc(sizeof(ZemInstance)));
  if (z == nullptr) return false;
  *z = settings;
  memset(&z->tables, 0, sizeof z->tables);
  memset(z->rescaled, 0, sizeof z->rescaled);
  const size_t frameBytes = static_cast<size_t>(2) * z->width * z->height;
  z->scratch = static_cast<uint8_t*>(malloc(frameBytes * (z->planar ? 2 : 1)));
  if (z->scratch == nullptr || !BuildFilterTables(z->width, z->height, z->tables)) {
    z->plan = nullptr;  // still the caller's
    FreeInstance(z);
    return false;
  }
  PoolUserAdded();
  fi->userData = z;
  fi->getFrame = ZemGetFrame;
  fi->setCacheHints = ZemSetCacheHints;
  fi->freeFilter = ZemFreeFilter;
  return true;
}
