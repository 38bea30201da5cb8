#include "avisynth_c/plan_state.h"

#include "avisynth_c/avs_link.h"
#include "platform/crt.h"
#include "platform/text.h"

namespace {

PlanState* sharedPlans;  // plans from pipes, FIFOs and devices with users
int32_t listLock;        // held only while the list is walked or changed

void Lock() {
  while (__atomic_exchange_n(&listLock, 1, __ATOMIC_ACQUIRE) != 0) {
  }
}
void Unlock() { __atomic_store_n(&listLock, 0, __ATOMIC_RELEASE); }

void FreePlan(PlanState* plan) {
  free(plan->frames);
  free(plan->times);
  free(plan->sharedPath);
  free(plan);
}

// The frame table and the times of plan bytes, or null without memory.
PlanState* MakePlan(const uint8_t* data, int32_t size) {
  PlanState* plan = static_cast<PlanState*>(malloc(sizeof(PlanState)));
  if (plan == nullptr) return nullptr;
  memset(plan, 0, sizeof *plan);
  plan->frameCount = CountPlanFrames(data, size);
  const size_t count = static_cast<size_t>(plan->frameCount);
  plan->frames = static_cast<FramePlanEntry*>(malloc(sizeof(FramePlanEntry) * (count ? count : 1)));
  plan->times = static_cast<FrameTime*>(malloc(sizeof(FrameTime) * (count + 1)));
  if (plan->frames == nullptr || plan->times == nullptr) {
    FreePlan(plan);
    return nullptr;
  }
  FillFrameTable(data, size, plan->frames);
  plan->dependsOnOrder = PlanDependsOnFieldOrder(data, size);
  FrameTimes(plan->frames, plan->frameCount, plan->times);
  if (count > 0)
    plan->times[count] = LastFrameEnd(plan->times[count - 1], count > 1 ? &plan->times[count - 2] : nullptr);
  return plan;
}

}  // namespace

PlanReadResult AcquirePlan(const char* path, PlanState** result) {
  *result = nullptr;
  const bool shareable = path != nullptr && !IsRegularFilePath(path);
  if (shareable) {
    Lock();
    for (PlanState* p = sharedPlans; p != nullptr; p = p->next) {
      if (!SameText(p->sharedPath, path)) continue;
      ++p->users;
      *result = p;
      break;
    }
    Unlock();
    if (*result != nullptr) return PlanReadOk;
  }
  uint8_t* data = nullptr;
  int32_t size = 0;
  const PlanReadResult read = ReadPlanFile(path, &data, &size);
  if (read != PlanReadOk) return read;
  PlanState* plan = MakePlan(data, size);
  free(data);
  if (plan == nullptr) return PlanNoMemory;
  plan->users = 1;
  if (shareable) {
    size_t n = 0;
    while (path[n]) ++n;
    plan->sharedPath = static_cast<char*>(malloc(n + 1));
    if (plan->sharedPath == nullptr) {
      FreePlan(plan);
      return PlanNoMemory;
    }
    memcpy(plan->sharedPath, path, n + 1);
    Lock();
    plan->next = sharedPlans;
    sharedPlans = plan;
    Unlock();
  }
  *result = plan;
  return PlanReadOk;
}

void ReleasePlan(PlanState* plan) {
  if (plan == nullptr) return;
  Lock();
  const bool last = --plan->users == 0;
  if (last && plan->sharedPath != nullptr) {
    PlanState** link = &sharedPlans;
    while (*link != plan) link = &(*link)->next;
    *link = plan->next;
  }
  Unlock();
  if (last) FreePlan(plan);
}
