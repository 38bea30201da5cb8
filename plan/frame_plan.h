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

// Whether the plan's frames depend on the source's field order. They do not
// when the filter's work on every frame commutes with turning the frame over
// (as a bottom-field-first source is turned for the filter): '1' at an even
// position (the frame as it is) and '3' at an even position (the symmetric
// 1/4, 1/2, 1/4 smoothing, whose first and last rows repeat themselves
// alike). Every code at an odd position weaves other fields in the other
// order, and '2', '4', '5', '6' at an even position rebuild from the first
// or the second field, which swap.
bool PlanDependsOnFieldOrder(const uint8_t* planData, int32_t planSize);

// Filling pass: writes one entry per frame code, in position order, into a
// table sized by CountPlanFrames.
void FillFrameTable(const uint8_t* planData, int32_t planSize, FramePlanEntry* frameTable);

#endif
