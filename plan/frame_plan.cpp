#include "plan/frame_plan.h"

int32_t CountPlanFrames(const uint8_t* planData, int32_t planSize) {
  int32_t count = 0;
  for (int32_t p = 0; p < planSize; ++p) count += IsFrameCode(planData[p]) ? 1 : 0;
  return count;
}

bool PlanDependsOnFieldOrder(const uint8_t* planData, int32_t planSize) {
  for (int32_t p = 0; p < planSize; ++p)
    if (IsFrameCode(planData[p]) && (p % 2 != 0 || (planData[p] != '1' && planData[p] != '3'))) return true;
  return false;
}

void FillFrameTable(const uint8_t* planData, int32_t planSize, FramePlanEntry* frameTable) {
  int32_t next = 0;
  for (int32_t p = 0; p < planSize; ++p) {
    if (IsFrameCode(planData[p])) frameTable[next++] = FramePlanEntry{static_cast<uint32_t>(p), planData[p]};
  }
}
