// The plan: one byte per field position. Bytes '1' to '6' each make one
// output frame at their position; every other byte makes none but still
// takes its position.
#ifndef ZEMIVTC_PLAN_FRAME_PLAN_H
#define ZEMIVTC_PLAN_FRAME_PLAN_H

#include <stdint.h>

// Largest plan file accepted, in bytes.
constexpr int64_t MaxPlanSize = 10485760;

// One output frame: the field position of its code byte and the byte itself
// (the character code '1' to '6', not the digit's value).
struct FramePlanEntry {
  uint32_t position;
  int32_t code;
};

inline bool IsFrameCode(uint8_t byte) { return byte >= '1' && byte <= '6'; }

// Counting pass: the number of output frames the plan makes.
int32_t CountPlanFrames(const uint8_t* planData, int32_t planSize);

// Filling pass: writes one entry per frame code, in position order, into a
// table sized by CountPlanFrames.
void FillFrameTable(const uint8_t* planData, int32_t planSize, FramePlanEntry* frameTable);

#endif
