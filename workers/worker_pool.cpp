#include "workers/worker_pool.h"

#include "platform/crt.h"

namespace {

const int kWaitMs = 100;  // the done event only shortens waits; the states decide

#ifdef ZEMIVTC_WORKERS_FAULTS
int eventsMade = 0;
int threadsMade = 0;
#endif

void ResetFaultCounters() {
#ifdef ZEMIVTC_WORKERS_FAULTS
  eventsMade = 0;
  threadsMade = 0;
#endif
}

platform::Event* NewEvent() {
#ifdef ZEMIVTC_WORKERS_FAULTS
  if (++eventsMade == workerPoolFaults.failEventAt) return nullptr;
#endif
  return platform::CreateAutoResetEvent();
}

platform::Thread* NewThread(WorkerJob* job) {
#ifdef ZEMIVTC_WORKERS_FAULTS
  if (++threadsMade == workerPoolFaults.failThreadAt) return nullptr;
#endif
  return platform::StartThread(WorkerMain, job);
}

bool AllocationFails() {
#ifdef ZEMIVTC_WORKERS_FAULTS
  return workerPoolFaults.failAllocation;
#else
  return false;
#endif
}

bool Started(const WorkerPool& pool, int32_t i) { return pool.threads[i] != nullptr; }

// True when some record whose thread runs has state != want (matchEqual false)
// or == want (matchEqual true). Scans from the last record down.
bool AnyStarted(const WorkerPool& pool, int32_t want, bool matchEqual) {
  for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
    if (!Started(pool, i)) continue;
    const bool equal = platform::LoadAcquire(&pool.jobs[i].state) == want;
    if (equal == matchEqual) return true;
  }
  return false;
}

// Sleeps until every started worker has stored Ready; each worker sets the
// done event right after that store. Until then a posted state or an exit
// request could be overwritten by the worker's first store.
void WaitUntilReady(WorkerPool& pool) {
  while (AnyStarted(pool, Stopped, true)) platform::WaitForEvent(pool.doneEvent, kWaitMs);
}

// Tears down a pool in any stage of construction: records without a thread or
// without an event are skipped.
void Teardown(WorkerPool& pool) {
  if (pool.jobs != nullptr && pool.threads != nullptr) {
    WaitUntilReady(pool);
    for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
      if (!Started(pool, i)) continue;
      platform::StoreRelease(&pool.jobs[i].state, ExitRequest);
      platform::SetEvent(pool.jobs[i].wakeEvent);
    }
    while (AnyStarted(pool, Stopped, false)) platform::WaitForEvent(pool.doneEvent, kWaitMs);
    // A worker still sets the done event after storing Stopped: join before closing it.
    for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
      if (Started(pool, i)) platform::JoinThread(pool.threads[i]);
    }
    for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
      if (pool.jobs[i].wakeEvent != nullptr) platform::CloseEvent(pool.jobs[i].wakeEvent);
    }
  }
  if (pool.doneEvent != nullptr) platform::CloseEvent(pool.doneEvent);
  free(pool.jobs);
  free(pool.threads);
  pool = WorkerPool{};
}

}  // namespace

#ifdef ZEMIVTC_WORKERS_FAULTS
WorkerPoolFaults workerPoolFaults = {0, 0, false};
#endif

bool StartWorkers(WorkerPool& pool) { return StartWorkers(pool, platform::ProcessorCount()); }

bool StartWorkers(WorkerPool& pool, int32_t count) {
  pool = WorkerPool{};
  if (count < 1) return false;
  ResetFaultCounters();
  if (!AllocationFails()) {
    // Zeroed, so a failure part-way leaves null events and threads to skip.
    const size_t records = static_cast<size_t>(count);
    if (records <= SIZE_MAX / sizeof(WorkerJob)) {
      pool.jobs = static_cast<WorkerJob*>(malloc(records * sizeof(WorkerJob)));
      pool.threads = static_cast<platform::Thread**>(malloc(records * sizeof(platform::Thread*)));
    }
    if (pool.jobs != nullptr) memset(pool.jobs, 0, records * sizeof(WorkerJob));
    if (pool.threads != nullptr) memset(pool.threads, 0, records * sizeof(platform::Thread*));
  }
  pool.threadCount = count;
  if (pool.jobs == nullptr || pool.threads == nullptr) {
    Teardown(pool);
    return false;
  }
  pool.doneEvent = NewEvent();
  if (pool.doneEvent == nullptr) {
    Teardown(pool);
    return false;
  }
  for (int32_t i = count - 1; i >= 0; --i) {
    WorkerJob& job = pool.jobs[i];
    job.wakeEvent = NewEvent();
    job.state = Stopped;
    job.doneEvent = pool.doneEvent;
    if (job.wakeEvent == nullptr) {
      Teardown(pool);
      return false;
    }
  }
  for (int32_t i = count - 1; i >= 0; --i) {
    pool.threads[i] = NewThread(&pool.jobs[i]);
    if (pool.threads[i] == nullptr) {
      Teardown(pool);
      return false;
    }
  }
  WaitUntilReady(pool);
  return true;
}

unsigned WorkerMain(void* arg) {
  WorkerJob& job = *static_cast<WorkerJob*>(arg);
  platform::Event* const wake = job.wakeEvent;
  platform::Event* const done = job.doneEvent;
  platform::StoreRelease(&job.state, Ready);
  platform::SetEvent(done);  // ends StartWorkers' wait for this worker
  for (;;) {
    platform::WaitForEvent(wake, platform::Infinite);
    const int32_t state = platform::LoadAcquire(&job.state);
    if (state == ExitRequest) break;
    // A stray wake: nothing posted, nothing to report.
    if (state != WeaveJob && state != FilterJob && state != CallJob) continue;
    RunBand(job, static_cast<WorkerState>(state));
    platform::StoreRelease(&job.state, Done);
    platform::SetEvent(done);
  }
  platform::StoreRelease(&job.state, Stopped);
  platform::SetEvent(done);
  return 0;
}

void WeaveBand(WorkerJob& job) {
  if (job.rows <= 0 || job.width <= 0) return;
  const size_t rowBytes = static_cast<size_t>(job.width) * 2;
  const ptrdiff_t srcStride = job.srcStride;
  const ptrdiff_t src2Stride = job.src2Stride;
  const ptrdiff_t dstStride = job.dstStride;
  const uint8_t* src = job.src;
  const uint8_t* src2 = job.src2;
  uint8_t* dst = job.dst;
  for (int32_t pair = 0; pair < job.rows / 2; ++pair) {
    memcpy(dst, src, rowBytes);
    memcpy(dst + dstStride, src2 + src2Stride, rowBytes);
    src += 2 * srcStride;
    src2 += 2 * src2Stride;
    dst += 2 * dstStride;
  }
  // The last band of an odd-height frame carries one unpaired even row.
  if (job.rows % 2 != 0) memcpy(dst, src, rowBytes);
}

void FilterBand(WorkerJob& job) {
  if (job.rows <= 0) return;
  VerticalFilterKernel(job.src, job.dst, job.width, job.rows, job.taps, job.offsets, job.coeffs, job.dstStride);
}

void RunBand(WorkerJob& job, WorkerState kind) {
  if (kind == WeaveJob) WeaveBand(job);
  if (kind == FilterJob) FilterBand(job);
  if (kind == CallJob) job.call(job.context, job.band, job.bands);
}

void DispatchCall(WorkerPool& pool, BandCall call, const void* context) {
  if (pool.threadCount == 0) {
    call(context, 0, 1);
    return;
  }
  for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
    WorkerJob& job = pool.jobs[i];
    job.call = call;
    job.context = context;
    job.band = i;
    job.bands = pool.threadCount;
    PostJob(pool, i, CallJob);
  }
  WaitForJobs(pool, CallJob);
}

int32_t BandStart(int32_t total, int32_t index, int32_t count) { return platform::MulDiv(total, index, count); }

void PostJob(WorkerPool& pool, int32_t index, WorkerState kind) {
  WorkerJob& job = pool.jobs[index];
  platform::StoreRelease(&job.state, kind);
  platform::SetEvent(job.wakeEvent);
}

void WaitForJobs(WorkerPool& pool, WorkerState kind) {
  for (;;) {
    platform::WaitForEvent(pool.doneEvent, kWaitMs);
    bool pending = false;
    for (int32_t i = pool.threadCount - 1; i >= 0 && !pending; --i) {
      pending = platform::LoadAcquire(&pool.jobs[i].state) == kind;
    }
    if (!pending) return;
  }
}

void StopWorkers(WorkerPool& pool) { Teardown(pool); }
