// The ZEMIVTC filter as a VapourSynth (API 4) plugin: the instance every
// output clip holds, and the three calls the core makes.
//
// Built into the Windows x64 DLL, which has no C or C++ library: plain
// records, malloc'd blocks (platform/crt.h), no exceptions.
#ifndef ZEMIVTC_VAPOURSYNTH_FILTER_H
#define ZEMIVTC_VAPOURSYNTH_FILTER_H

#include <stdint.h>

#include "compose/compose.h"
#include "compose/planes.h"
#include "convert/planar_packed.h"
#include "plan/frame_plan.h"
#include "plan/frame_times.h"
#include "platform/text.h"
#include "vapoursynth/vs_api.h"

// The function's name in the plugin's namespace, and the prefix of every
// message, as the host's convention has it ("Name: message").
constexpr const char* FilterName = "ZEMIVTC";

// Everything one output clip needs, written once by the create function and
// only read after that, so getFrame may run for many frames at once.
struct ZemIvtcInstance {
  VSNode* source;              // the clip's node, a reference of our own
  VSVideoInfo vi;              // the output clip's: the source's format and size, the plan's frames and rate
  int32_t sourceFrames;        // requests beyond the source's last frame take its last frame
  bool dependsOnOrder;         // whether the plan's frames depend on the field order
  PackedLayout layout;         // 4:2:2, 4:2:0 or luma; turned over for bottom field first
  int32_t frameCount;          // output frames, >= 1
  FramePlanEntry* frameTable;  // frameCount entries
  FrameTime* times;            // frameCount + 1: the start of every frame, then the last one's end
  FilterTables tables;         // the codes' vertical filters for the clip's size
  PlaneOffsets offsets;        // the tables' offsets for the frames' pitches, filled once by any thread
};

// Reads the arguments, checks the clip and the plan, and appends the
// filter's node to out["clip"], or sets the error with the command's words.
void VS_CC CreateZemIvtc(const VSMap* in, VSMap* out, void* userData, VSCore* core, const VSAPI* vsapi);

// The getFrame and free callbacks of the node.
const VSFrame* VS_CC ZemIvtcGetFrame(int n, int activationReason, void* instanceData, void** frameData,
                                     VSFrameContext* frameCtx, VSCore* core, const VSAPI* vsapi);
void VS_CC ZemIvtcFree(void* instanceData, VSCore* core, const VSAPI* vsapi);

// Releases everything the instance holds, then the instance; null is fine.
void FreeInstance(ZemIvtcInstance* instance, const VSAPI* vsapi);

#endif
