// Making one output frame, as the command makes it: compose/'s stages on
// the clip's own planes, a bottom-field-first clip's turned over. A '1' at
// an even position is the source frame itself.
#include "platform/crt.h"
#include "vapoursynth/filter.h"

namespace {

int32_t LastAtMost(int32_t frame, int32_t last) { return frame < last ? frame : last; }

// A frame's planes in the filter's row order. Source frames are only read.
FramePlanes PlanesOf(const ZemIvtcInstance& d, const VSFrame* frame, VSFrame* writable, const VSAPI* vsapi) {
  const FrameFormat format = PlanarFormat(d.layout.chroma);
  FramePlanes planes{};
  for (int p = 0; p < PlaneCount(format); ++p) {
    planes.plane[p] = writable ? vsapi->getWritePtr(writable, p) : const_cast<uint8_t*>(vsapi->getReadPtr(frame, p));
    planes.pitch[p] = static_cast<int32_t>(vsapi->getStride(writable ? writable : frame, p));
  }
  return d.layout.mirrored ? TurnedOver(planes, format, d.vi.height) : planes;
}

// The planes of a frame of the clip's format in `buffer`, rows packed (in
// the filter's row order already: only the stages read and write it).
FramePlanes BufferPlanes(const ZemIvtcInstance& d, uint8_t* buffer) {
  const FrameFormat format = PlanarFormat(d.layout.chroma);
  FramePlanes planes{};
  for (int p = 0; p < PlaneCount(format); ++p) {
    planes.plane[p] = buffer;
    planes.pitch[p] = PlaneRowBytes(format, p, d.vi.width);
    buffer += static_cast<size_t>(planes.pitch[p]) * static_cast<size_t>(PlaneRows(format, p, d.vi.height));
  }
  return planes;
}

// Makes the entry's frame from `upper` and `lower` (either null when the
// recipe does not read it) into `frame`; false without memory.
bool Compose(const ZemIvtcInstance& d, const FrameRecipe& recipe, const VSFrame* upper, const VSFrame* lower,
             VSFrame* frame, const VSAPI* vsapi) {
  const FrameFormat format = PlanarFormat(d.layout.chroma);
  const int32_t width = d.vi.width, height = d.vi.height;
  // No workers: this call runs on one of the core's threads, and the core
  // runs as many of them as it has cores (fmParallel).
  WorkerPool callerThread{};
  const FramePlanes output = PlanesOf(d, nullptr, frame, vsapi);
  PlaneOffsets& offsets = const_cast<ZemIvtcInstance&>(d).offsets;  // filled once, atomically
  if (!recipe.woven)
    return FinishPlanes(callerThread, d.tables, offsets, recipe.code, format,
                        PlanesOf(d, recipe.code == '4' ? lower : upper, nullptr, vsapi), format, output, width, height);
  const FramePlanes up = PlanesOf(d, upper, nullptr, vsapi), low = PlanesOf(d, lower, nullptr, vsapi);
  if (recipe.code == '1') {
    WeavePlanes(callerThread, format, up, low, output, width, height);
    return true;
  }
  size_t bytes = 0;
  for (int p = 0; p < PlaneCount(format); ++p)
    bytes += static_cast<size_t>(PlaneRowBytes(format, p, width)) * static_cast<size_t>(PlaneRows(format, p, height));
  uint8_t* buffer = static_cast<uint8_t*>(malloc(bytes));
  if (!buffer) return false;
  const FramePlanes woven = BufferPlanes(d, buffer);
  WeavePlanes(callerThread, format, up, low, woven, width, height);
  const bool done =
      FinishPlanes(callerThread, d.tables, offsets, recipe.code, format, woven, format, output, width, height);
  free(buffer);
  return done;
}

// Frame n's own properties over those of the frame it was made from: its
// duration, progressive, and no longer one field.
void SetProperties(const ZemIvtcInstance& d, int32_t n, VSFrame* frame, const VSAPI* vsapi) {
  int64_t num = 1, den = 1;
  // Checked for every frame at creation.
  DurationSeconds(d.times[n], d.times[n + 1], &num, &den);
  VSMap* props = vsapi->getFramePropertiesRW(frame);
  vsapi->mapSetInt(props, "_DurationNum", num, maReplace);
  vsapi->mapSetInt(props, "_DurationDen", den, maReplace);
  vsapi->mapSetInt(props, "_FieldBased", 0, maReplace);
  vsapi->mapDeleteKey(props, "_Field");
}

}  // namespace

const VSFrame* VS_CC ZemIvtcGetFrame(int n, int activationReason, void* instanceData, void** /*frameData*/,
                                     VSFrameContext* frameCtx, VSCore* core, const VSAPI* vsapi) {
  const ZemIvtcInstance& d = *static_cast<const ZemIvtcInstance*>(instanceData);
  if (n < 0 || n >= d.frameCount) {
    // The core asks only for frames of the clip; a frame it lacks is an
    // error, never a null frame without one.
    if (activationReason == arAllFramesReady) vsapi->setFilterError("ZEMIVTC: no such frame", frameCtx);
    return nullptr;
  }
  const FrameRecipe recipe = RecipeFor(d.frameTable[n]);
  // Frame k (the lower field at an odd position) and k+1 (the upper), each
  // only when the recipe reads it; past the source's end, its last frame.
  const int32_t last = d.sourceFrames - 1;
  const int32_t lowerFrame = LastAtMost(recipe.lower, last);
  const int32_t upperFrame = LastAtMost(recipe.upper, last);
  const bool readsLower = recipe.code == '4' || recipe.woven;
  const bool readsUpper = recipe.code != '4';

  if (activationReason == arInitial) {
    // In ascending order: k before k+1.
    if (readsLower) vsapi->requestFrameFilter(lowerFrame, d.source, frameCtx);
    if (readsUpper && !(readsLower && upperFrame == lowerFrame))
      vsapi->requestFrameFilter(upperFrame, d.source, frameCtx);
    return nullptr;
  }
  // arError: a source frame failed; the core reports its error for this frame.
  if (activationReason != arAllFramesReady) return nullptr;

  const VSFrame* lower = readsLower ? vsapi->getFrameFilter(lowerFrame, d.source, frameCtx) : nullptr;
  const VSFrame* upper = readsUpper ? vsapi->getFrameFilter(upperFrame, d.source, frameCtx) : nullptr;
  const VSFrame* selected = recipe.code == '4' ? lower : upper;
  VSFrame* frame = nullptr;
  const char* error = nullptr;
  if ((readsLower && !lower) || (readsUpper && !upper)) {
    error = "ZEMIVTC: the core delivered no source frame";
  } else if (recipe.code == '1' && !recipe.woven) {
    frame = vsapi->copyFrame(selected, core);
  } else {
    frame = vsapi->newVideoFrame(&d.vi.format, d.vi.width, d.vi.height, selected, core);
    if (!Compose(d, recipe, upper, lower, frame, vsapi)) {
      vsapi->freeFrame(frame);
      frame = nullptr;
      error = "ZEMIVTC: Out of memory";
    }
  }
  if (lower) vsapi->freeFrame(lower);
  if (upper) vsapi->freeFrame(upper);
  if (error) {
    vsapi->setFilterError(error, frameCtx);
    return nullptr;
  }
  SetProperties(d, n, frame, vsapi);
  return frame;
}

void VS_CC ZemIvtcFree(void* instanceData, VSCore* /*core*/, const VSAPI* vsapi) {
  FreeInstance(static_cast<ZemIvtcInstance*>(instanceData), vsapi);
}
