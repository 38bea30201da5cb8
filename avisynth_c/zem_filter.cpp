// Frame requests: the source frames the plan entry names, compose/'s
// stages on their planes (a YUY2 frame's one plane; a bottom-field-first
// clip's frames turned over), into a new frame. The version-2 module runs
// the same stages on YUY2 frames as the host gives them; for a
// top-field-first YUY2 clip this gives its bytes.
#include "avisynth_c/zem_filter.h"

#include "avisynth_c/shared_pool.h"
#include "platform/crt.h"
#include "platform/text.h"

AvsApi avs;

namespace {

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

FrameFormat FormatOf(const ZemInstance& z) { return z.planar ? PlanarFormat(z.layout.chroma) : FormatYuy2; }

// A host frame's planes in the filter's row order: turned over for a
// bottom-field-first clip. A plane the host gives no pointer for is null.
FramePlanes Planes(const ZemInstance& z, AvsVideoFrame* frame, bool writable) {
  const int planes[3] = {z.planar ? AvsPlaneY : AvsPlaneDefault, AvsPlaneU, AvsPlaneV};
  FramePlanes out{};
  for (int p = 0; p < PlaneCount(FormatOf(z)); ++p) {
    out.plane[p] =
        writable ? AvsWritePtr(avs, frame, planes[p]) : const_cast<uint8_t*>(AvsReadPtr(avs, frame, planes[p]));
    out.pitch[p] = AvsPitch(avs, frame, planes[p]);
  }
  return z.layout.mirrored ? TurnedOver(out, FormatOf(z), z.height) : out;
}

// The scratch frame's planes, rows packed (only the stages read and write it).
FramePlanes ScratchPlanes(const ZemInstance& z) {
  FramePlanes out{};
  uint8_t* at = z.scratch;
  for (int p = 0; p < PlaneCount(FormatOf(z)); ++p) {
    out.plane[p] = at;
    out.pitch[p] = PlaneRowBytes(FormatOf(z), p, z.width);
    at += static_cast<size_t>(out.pitch[p]) * static_cast<size_t>(PlaneRows(FormatOf(z), p, z.height));
  }
  return out;
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
  const FrameFormat format = FormatOf(z);
  const FramePlanes target = Planes(z, output, true);
  for (int p = 0; p < PlaneCount(format); ++p) {
    if (target.plane[p] == nullptr) {
      avs.releaseVideoFrame(output);
      return Fail(fi, "ZEMIVTC: the host gave a new frame that cannot be written");
    }
  }
  WorkerPool* pool = TakeSharedPool();
  WorkerPool none{};
  WorkerPool& workers = pool ? *pool : none;
  bool done = true;
  if (recipe.woven) {
    // A '1' weaves straight into the new frame; a '3' smooths the weave.
    const FramePlanes woven = recipe.code == '1' ? target : ScratchPlanes(z);
    WeavePlanes(workers, format, Planes(z, upper, false), Planes(z, lower, false), woven, z.width, z.height);
    if (recipe.code != '1')
      done = FinishPlanes(workers, z.tables, z.offsets, recipe.code, format, woven, format, target, z.width, z.height);
  } else {
    const FramePlanes selected = Planes(z, recipe.code == '4' ? lower : upper, false);
    done = FinishPlanes(workers, z.tables, z.offsets, recipe.code, format, selected, format, target, z.width, z.height);
  }
  if (pool) GiveBackSharedPool();
  if (done) return output;
  avs.releaseVideoFrame(output);
  return Fail(fi, "Out of memory");
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
  FreePlaneOffsets(z->offsets);
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
  memset(&z->offsets, 0, sizeof z->offsets);
  const FrameFormat format = FormatOf(*z);
  size_t frameBytes = 0;
  for (int p = 0; p < PlaneCount(format); ++p)
    frameBytes +=
        static_cast<size_t>(PlaneRowBytes(format, p, z->width)) * static_cast<size_t>(PlaneRows(format, p, z->height));
  z->scratch = static_cast<uint8_t*>(malloc(frameBytes));
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
