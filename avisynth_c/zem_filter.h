// The filter a script call of ZEMIVTC makes on the C interface: one instance
// per AvsFilterInfo (AviSynth+ makes one per Prefetch thread and calls each
// from one thread at a time, so an instance's buffers need no lock).
#ifndef ZEMIVTC_AVISYNTH_C_ZEM_FILTER_H
#define ZEMIVTC_AVISYNTH_C_ZEM_FILTER_H

#include <stdint.h>

#include "avisynth_c/avs_c.h"
#include "avisynth_c/plan_state.h"
#include "compose/compose.h"
#include "compose/planes.h"
#include "convert/planar_packed.h"

// The host's functions, bound by the entry point.
extern AvsApi avs;

struct ZemInstance {
  PlanState* plan;
  FilterTables tables;
  bool planar;            // 8-bit planar 4:2:0 or 4:2:2; else YUY2
  PackedLayout layout;    // planar: the chroma; both: layout.mirrored for bottom field first (frames turned over)
  int32_t width, height;  // of source and output frames
  int32_t lastSource;     // the child's last frame; requests past either end take the nearest
  bool setProperties;     // the host has frame properties
  uint8_t* scratch;       // one frame of the clip's format, rows packed: a weave that is filtered next
  PlaneOffsets offsets;   // the tables' offsets for the host frames' pitches
  char error[256];        // the message of the frame request that failed
};

// Sets up an instance for fi (whose vi is already the output clip's) and
// installs the callbacks; false without memory, with nothing left allocated.
bool StartInstance(AvsFilterInfo* fi, const ZemInstance& settings);

#endif
