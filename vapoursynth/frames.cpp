// Making one output frame, as the command makes it: the source frames the
// plan entry names go to packed rows (convert/), compose/ weaves and
// finishes them, and the result comes back to the clip's planar format. A
// '1' at an even position is the source frame itself, which those
// conversions would give back byte for byte.
#include "platform/crt.h"
#include "vapoursynth/filter.h"

namespace {

int32_t LastAtMost(int32_t frame, int32_t last) { return frame < last ? frame : last; }

// The planes of a frame for the conversions. Planes 1 and 2 have one size,
// so the core gives them one stride.
PlanarFrame PlanesOf(const VSFrame* frame, uint8_t* y, uint8_t* u, uint8_t* v, const VSAPI* vsapi, bool gray) {
  return PlanarFrame{y, u, v, vsapi->getStride(frame, 0), gray ? 0 : vsapi->getStride(frame, 1)};
}

void ToPacked(const ZemIvtcInstance& d, const VSFrame* frame, uint8_t* packed, const VSAPI* vsapi) {
  const bool gray = d.layout.chroma == PlanarGray;
  uint8_t* y = const_cast<uint8_t*>(vsapi->getReadPtr(frame, 0));
  uint8_t* u = gray ? nullptr : const_cast<uint8_t*>(vsapi->getReadPtr(frame, 1));
  uint8_t* v = gray ? nullptr : const_cast<uint8_t*>(vsapi->getReadPtr(frame, 2));
  PlanarToPackedRows(PlanesOf(frame, y, u, v, vsapi, gray), d.vi.width, d.vi.height, 0, d.vi.height, packed,
                     2 * d.vi.width, d.layout);
}

void FromPacked(const ZemIvtcInstance& d, const uint8_t* packed, VSFrame* frame, const VSAPI* vsapi) {
  const bool gray = d.layout.chroma == PlanarGray;
  uint8_t* y = vsapi->getWritePtr(frame, 0);
  uint8_t* u = gray ? nullptr : vsapi->getWritePtr(frame, 1);
  uint8_t* v = gray ? nullptr : vsapi->getWritePtr(frame, 2);
  PackedToPlanarRows(packed, 2 * d.vi.width, d.vi.width, d.vi.height, 0, d.vi.height,
                     PlanesOf(frame, y, u, v, vsapi, gray), d.layout);
}

// The entry's frame on packed rows, made from `upper` and `lower` (either
// null when the recipe does not read it) in `buffers` (three packed frames);
// returns the one that holds it.
const uint8_t* ComposePacked(const ZemIvtcInstance& d, const FrameRecipe& recipe, const VSFrame* upper,
                             const VSFrame* lower, uint8_t* buffers, const VSAPI* vsapi) {
  const int32_t width = d.vi.width, height = d.vi.height, pitch = 2 * width;
  const size_t frameBytes = static_cast<size_t>(pitch) * static_cast<size_t>(height);
  uint8_t* first = buffers;
  uint8_t* second = buffers + frameBytes;
  uint8_t* third = second + frameBytes;
  // No workers: this call runs on one of the core's threads, and the core
  // runs as many of them as it has cores (fmParallel).
  WorkerPool callerThread{};
  const uint8_t* selected = first;
  uint8_t* output = second;
  if (recipe.woven) {
    ToPacked(d, upper, first, vsapi);
    ToPacked(d, lower, second, vsapi);
    WeaveFrames(callerThread, first, pitch, second, pitch, third, pitch, width, height);
    if (recipe.code == '1') return third;
    selected = third;
    output = first;
  } else {
    ToPacked(d, recipe.code == '4' ? lower : upper, first, vsapi);
  }
  // Rows of the packed buffers lie 2 * width bytes apart: the tables' own offsets.
  FinishFrame(callerThread, d.tables, recipe.code, TableFor(d.tables, recipe.code).offsets, selected, pitch, output,
              pitch, width, height);
  return output;
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
    const size_t frameBytes = 2 * static_cast<size_t>(d.vi.width) * static_cast<size_t>(d.vi.height);
    uint8_t* buffers = static_cast<uint8_t*>(malloc(3 * frameBytes));
    if (buffers) {
      const uint8_t* packed = ComposePacked(d, recipe, upper, lower, buffers, vsapi);
      frame = vsapi->newVideoFrame(&d.vi.format, d.vi.width, d.vi.height, selected, core);
      FromPacked(d, packed, frame, vsapi);
      free(buffers);
    } else {
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
