// One worker pool for every filter instance of the module.
//
// AviSynth+ runs this filter as MT_MULTI_INSTANCE: Prefetch(N) makes N
// instances and calls each from a thread of its own. A pool of one worker per
// processor in each instance would put N such pools on the machine, each
// thread competing with the host's N. Instead the instances share one pool,
// and a frame takes it only when it is free: the first frame in hand gets one
// worker per processor, every frame that comes meanwhile runs on the host's
// thread that asked for it (the core's pool with no workers). Without
// Prefetch one thread asks, always finds the pool free and gets every
// processor; with Prefetch(N) the machine holds at most one thread per
// processor plus the host's N, and no thread waits for the pool.
#ifndef ZEMIVTC_AVISYNTH_C_SHARED_POOL_H
#define ZEMIVTC_AVISYNTH_C_SHARED_POOL_H

#include "workers/worker_pool.h"

// Counts a filter instance in and out; the last one out stops the workers.
void PoolUserAdded();
void PoolUserRemoved();

// The shared pool when no other frame holds it (its workers started on first
// use; a pool that cannot start has none and runs on the caller), else null.
// A pool taken must be given back.
WorkerPool* TakeSharedPool();
void GiveBackSharedPool();

#endif
