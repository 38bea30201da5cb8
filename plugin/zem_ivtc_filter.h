// The clip a script call of ZEMIVTC returns.
#ifndef ZEMIVTC_PLUGIN_ZEM_IVTC_FILTER_H
#define ZEMIVTC_PLUGIN_ZEM_IVTC_FILTER_H

#include <stddef.h>
#include <stdint.h>

#include "compose/compose.h"
#include "host/avisynth.h"
#include "plan/frame_plan.h"
#include "workers/worker_pool.h"

// A table's source offsets rescaled for frames whose rows are not
// 2 * width bytes apart; kept until a frame with another pitch comes.
struct PitchedOffsets {
  int32_t pitch;     // source frame pitch the offsets were made for; 0: none
  int32_t* offsets;  // rows * taps entries
};

// The output clip: the plan's frame count at 60000/1001, all else the child's.
inline void SetOutputProperties(VideoInfo& vi, int32_t frameCount) {
  vi.num_frames = frameCount;
  vi.fps_numerator = 60000;
  vi.fps_denominator = 1001;
}

class ZemIvtcFilter : public GenericVideoFilter {
 public:
  // Takes over planData (malloc'd). Failures free everything the filter
  // holds and raise the error through env.
  ZemIvtcFilter(PClip clip, uint8_t* planData, int32_t planSize, IScriptEnvironment* env);
  ~ZemIvtcFilter() override;
  // The object comes from the C runtime's heap; a failed allocation gives
  // null, which CreateFilter reports.
  static void* operator new(size_t bytes) noexcept;
  static void operator delete(void* block) noexcept;
  PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) override;

 private:
  void FreeResources();
  // The source offsets of a code's table for a selected frame of this pitch.
  const int32_t* OffsetsFor(int32_t code, int32_t pitch, IScriptEnvironment* env);

  WorkerPool pool{};  // threadCount, doneEvent, jobs
  int32_t planSize = 0;
  uint8_t* planData = nullptr;
  FramePlanEntry* frameTable = nullptr;
  int32_t frameCount = 0;
  FilterTables tables{};
  PitchedOffsets pitchedOffsets[3]{};  // codes '5', '4', '3'
};

#endif
