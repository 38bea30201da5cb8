#include "avisynth_c/shared_pool.h"

namespace {

// Zero at load: no constructor runs in a module without a C runtime.
WorkerPool sharedPool;
int32_t poolHeld;     // 1 while a frame (or the last instance's teardown) holds the pool
int32_t poolUsers;    // filter instances alive
int32_t startFailed;  // workers could not start: frames run on their callers until the pool is stopped

bool TryHold() {
  int32_t expected = 0;
  return __atomic_compare_exchange_n(&poolHeld, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

}  // namespace

void PoolUserAdded() { __atomic_add_fetch(&poolUsers, 1, __ATOMIC_ACQ_REL); }

void PoolUserRemoved() {
  if (__atomic_sub_fetch(&poolUsers, 1, __ATOMIC_ACQ_REL) != 0) return;
  // The last instance is gone. A pool held now belongs to a frame of an
  // instance made since, whose own removal will stop it.
  if (!TryHold()) return;
  StopWorkers(sharedPool);
  startFailed = 0;
  __atomic_store_n(&poolHeld, 0, __ATOMIC_RELEASE);
}

WorkerPool* TakeSharedPool() {
  if (!TryHold()) return nullptr;
  if (sharedPool.threadCount == 0 && !startFailed && !StartWorkers(sharedPool)) startFailed = 1;
  return &sharedPool;
}

void GiveBackSharedPool() { __atomic_store_n(&poolHeld, 0, __ATOMIC_RELEASE); }
