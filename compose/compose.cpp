// GetFrame: select the frame at the entry's field position (the source frame
// itself, or the weave of two neighbours), then finish it by the entry's code.
// The host's thread only fills jobs and waits; the workers do the pixels.
#include <stddef.h>

#include "plugin/zem_ivtc_filter.h"

namespace {

enum TableIndex { TopField = 0, BottomField = 1, Smooth = 2 };

// The frame chosen by a field position, before the code finishes it.
struct FrameSelection {
  PVideoFrame frame;
  const uint8_t* base;  // row 0
  int32_t pitch;
};

// Codes '2' and '6' rebuild the field that matches the position's parity.
int32_t EffectiveCode(int32_t code, bool oddPosition) {
  if (code == '2' || code == '6') return oddPosition ? '4' : '5';
  return code;
}

}  // namespace

PVideoFrame ZemIvtcFilter::Weave(const PVideoFrame& upper, const PVideoFrame& lower, IScriptEnvironment* env) {
  PVideoFrame woven = env->NewVideoFrame(vi, 16);
  const uint8_t* upperRows = upper->GetReadPtr();
  const uint8_t* lowerRows = lower->GetReadPtr();
  uint8_t* wovenRows = woven->GetWritePtr();
  const int32_t upperPitch = upper->GetPitch();
  const int32_t lowerPitch = lower->GetPitch();
  const int32_t wovenPitch = woven->GetPitch();
  const int32_t width = vi.width;
  const int32_t height = vi.height;
  DispatchBands(pool, height / 2, WeaveJob, [&](WorkerJob& job, int32_t start, int32_t end) {
    job.src = upperRows + static_cast<ptrdiff_t>(start) * 2 * upperPitch;
    job.src2 = lowerRows + static_cast<ptrdiff_t>(start) * 2 * lowerPitch;
    job.dst = wovenRows + static_cast<ptrdiff_t>(start) * 2 * wovenPitch;
    job.width = width;
    // An odd height leaves a last even row: the band that ends the frame
    // takes it from frame k+1, like every other even row.
    job.rows = 2 * (end - start) + ((height & 1) && IsLastBand(pool, job) ? 1 : 0);
    job.srcStride = upperPitch;
    job.src2Stride = lowerPitch;
    job.dstStride = wovenPitch;
  });
  return woven;
}

PVideoFrame AVSC_CC ZemIvtcFilter::GetFrame(int n, IScriptEnvironment* env) {
  if (frameCount <= 0) env->ThrowError("The plan makes no frames");
  n = n < 0 ? 0 : n >= frameCount ? frameCount - 1 : n;
  const FramePlanEntry entry = frameTable[n];
  const bool oddPosition = (entry.position & 1u) != 0;
  const int k = static_cast<int>(entry.position >> 1);
  const int32_t code = EffectiveCode(entry.code, oddPosition);
  const int32_t width = vi.width;
  const int32_t height = vi.height;

  FrameSelection selected;
  if (!oddPosition) {
    selected.frame = child->GetFrame(k, env);
  } else {
    // The woven frame's even rows (top field) come from frame k+1, its odd
    // rows (bottom field) from frame k.
    PVideoFrame upper = child->GetFrame(k + 1, env);
    PVideoFrame lower = child->GetFrame(k, env);
    if (code == '4' || code == '5') {
      // A field rebuild reads one field of the weave, which is that field
      // of one source frame as it stands: read it there and skip the copy.
      selected.frame = code == '4' ? lower : upper;
    } else {
      selected.frame = Weave(upper, lower, env);
    }
  }
  selected.base = selected.frame->GetReadPtr();
  selected.pitch = selected.frame->GetPitch();

  if (code != '3' && code != '4' && code != '5') return selected.frame;

  const int tableIndex = code == '3' ? Smooth : code == '4' ? BottomField : TopField;
  const VerticalFilterTable& table = tableIndex == Smooth        ? smoothTable
                                     : tableIndex == BottomField ? bottomFieldTable
                                                                 : topFieldTable;
  const int32_t* offsets = OffsetsFor(tableIndex, selected.pitch, env);
  // The bottom field starts one row down.
  const uint8_t* sourceBase = selected.base + (code == '4' ? selected.pitch : 0);

  PVideoFrame output = env->NewVideoFrame(vi, 16);
  uint8_t* outputRows = output->GetWritePtr();
  const int32_t outputPitch = output->GetPitch();
  const int32_t taps = table.taps;
  DispatchBands(pool, height, FilterJob, [&](WorkerJob& job, int32_t start, int32_t end) {
    job.src = sourceBase;
    job.dst = outputRows + static_cast<ptrdiff_t>(start) * outputPitch;
    job.width = width;
    job.rows = end - start;
    job.taps = taps;
    job.offsets = offsets + static_cast<ptrdiff_t>(start) * taps;
    job.coeffs = table.coeffs + static_cast<ptrdiff_t>(start) * taps;
    job.srcStride = selected.pitch;
    job.dstStride = outputPitch;
  });
  return output;
}
