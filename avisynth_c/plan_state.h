// A plan as the filter instances use it: the frame table and every frame's
// time, read-only once made.
//
// Every instance reads a plan in a regular file for itself. A pipe, FIFO or
// device gives its bytes once, while AviSynth+ runs the creation function
// once per Prefetch thread: instances made from such a path while one made
// from it is alive share that one's plan instead of reading it again (which
// would wait for a writer that has gone, or read nothing).
#ifndef ZEMIVTC_AVISYNTH_C_PLAN_STATE_H
#define ZEMIVTC_AVISYNTH_C_PLAN_STATE_H

#include <stdint.h>

#include "plan/frame_plan.h"
#include "plan/frame_times.h"
#include "plan/plan_file.h"

struct PlanState {
  FramePlanEntry* frames;  // frameCount entries (at least one allocated)
  int32_t frameCount;
  bool dependsOnOrder;  // whether the frames depend on the field order (PlanDependsOnFieldOrder)
  FrameTime* times;     // frameCount + 1: each frame's start, then the last one's end
  char* sharedPath;     // the path of a plan kept for sharing; null for a regular file
  int32_t users;        // instances holding it
  PlanState* next;      // the list of plans kept for sharing
};

// The plan at `path` (null: none was given), read or shared; on failure
// *plan is null and the result says why.
PlanReadResult AcquirePlan(const char* path, PlanState** plan);
void ReleasePlan(PlanState* plan);

#endif
