// The worker pool: one thread per processor, each bound for life to one job
// record. The dispatcher (GetFrame, on the host's thread) fills every record
// with one band of rows, wakes its worker and sleeps until no record holds the
// posted kind. Threads meet only through each record's state word and two
// kinds of auto-reset event: a wake event per record and one done event.
#ifndef ZEMIVTC_WORKERS_WORKER_POOL_H
#define ZEMIVTC_WORKERS_WORKER_POOL_H

#include <stdint.h>

#include "platform/platform.h"
#include "vfilter/vertical_filter.h"

// Values of WorkerJob::state. The dispatcher waits until no record holds the
// kind it posted; the shutdown waits until every record holds Stopped.
enum WorkerState : int32_t {
  Stopped = 0,
  Ready = 1,
  WeaveJob = 2,
  Done = 3,
  ExitRequest = 4,
  FilterJob = 5,
  CallJob = 6
};

// Work that cuts itself into bands: runs band `index` of `count` of what
// `context` describes (every plane of a frame in one dispatch, each plane
// cut into `count` bands of its own rows). `context` is only read.
typedef void (*BandCall)(const void* context, int32_t index, int32_t count);

// One worker's record. Words from src on are written by the dispatcher only
// while the worker runs no job (state Ready or Done), and then published by
// the release store of state in PostJob.
struct WorkerJob {
  platform::Event* wakeEvent;     // this worker's own event, set to wake it
  platform::Event* doneEvent;     // the pool's done event, set after each job and on exit
  int32_t state;                  // a WorkerState; stores release, loads acquire
  const uint8_t* src;             // weave: band's first row in the even-row source; filter: source base
  uint8_t* dst;                   // first row of the band in the destination
  int32_t width;                  // frame width in pixels (2 bytes each)
  int32_t rows;                   // destination rows in the band; may be 0
  int32_t taps;                   // filter: taps per output row
  const int32_t* offsets;         // filter: source offsets from the band's first output row on
  const CoefficientWord* coeffs;  // filter: coefficient words from the band's first output row on
  int32_t srcStride;              // weave: pitch of src in bytes
  int32_t dstStride;              // pitch of dst in bytes
  const uint8_t* src2;            // weave: band's first row in the odd-row source
  int32_t src2Stride;             // weave: pitch of src2 in bytes
  BandCall call;                  // call: the work
  const void* context;            // call: what it works on
  int32_t band;                   // call: this record's band index
  int32_t bands;                  // call: bands of the dispatch
};

// The pool fields the filter object holds. All zero when no pool runs.
struct WorkerPool {
  int32_t threadCount;         // workers, job records and bands per dispatch
  platform::Event* doneEvent;  // shared by all workers to report a finished job or an exit
  WorkerJob* jobs;             // threadCount records; record i belongs to worker i
  platform::Thread** threads;  // thread handles, kept so StopWorkers can join every thread
};

// Starts one worker per processor the system reports. Returns once every
// worker is waiting for its first job. On failure nothing is left started or
// allocated, the pool is zeroed and the result is false.
bool StartWorkers(WorkerPool& pool);
// The same with an explicit worker count (>= 1), for tests and benchmarks.
bool StartWorkers(WorkerPool& pool, int32_t count);

// Thread routine; job is the worker's WorkerJob. Returns 0 when it leaves.
unsigned WorkerMain(void* job);

// Weave body: row 2k of the band from row 2k of src, row 2k + 1 from row
// 2k + 1 of src2, each row 2 * width bytes and each frame at its own pitch.
// An odd row count copies the final unpaired row from src.
void WeaveBand(WorkerJob& job);

// Filter body: one VerticalFilterKernel call over the band unless rows is 0.
void FilterBand(WorkerJob& job);

// First row (or row pair) of band index of count over total:
// total * index / count rounded to nearest, halves up. Bands are contiguous,
// cover 0..total and differ in size by at most one.
int32_t BandStart(int32_t total, int32_t index, int32_t count);

// Publishes the words already written into job index under kind, then wakes
// its worker. The worker must be idle (Ready or Done).
void PostJob(WorkerPool& pool, int32_t index, WorkerState kind);

// Sleeps until no record holds kind: waits on the done event for at most
// 100 ms at a time and rescans the states after every wait.
void WaitForJobs(WorkerPool& pool, WorkerState kind);

// Asks every worker to leave, joins every thread, closes the events and frees
// the records; leaves the pool zeroed. Only while no job is posted; a zeroed
// pool is left as it is.
void StopWorkers(WorkerPool& pool);

// One dispatch: walks the records from the last to the first, lets
// fill(job, start, end) write band [start, end) of total into the record,
// posts it, and then waits until every band of the kind is done. With fewer
// rows than bands several bands end at total; use IsLastBand, not
// end == total, to give one band (such as the unpaired last row of an
// odd-height weave) something extra.
//
// A pool with no workers (all zero: a front end whose host already runs
// frames on several threads of its own) does the dispatch as one band on the
// caller's thread.
inline bool IsLastBand(const WorkerPool& pool, const WorkerJob& job) {
  return pool.threadCount == 0 || &job == &pool.jobs[pool.threadCount - 1];
}

// Runs a job of `kind` (WeaveJob, FilterJob or CallJob) on the calling thread.
void RunBand(WorkerJob& job, WorkerState kind);

template <class Fill>
void DispatchBands(WorkerPool& pool, int32_t total, WorkerState kind, Fill fill) {
  if (pool.threadCount == 0) {
    WorkerJob job{};
    fill(job, 0, total);
    RunBand(job, kind);
    return;
  }
  int32_t end = total;
  for (int32_t i = pool.threadCount - 1; i >= 0; --i) {
    const int32_t start = BandStart(total, i, pool.threadCount);
    fill(pool.jobs[i], start, end);
    PostJob(pool, i, kind);
    end = start;
  }
  WaitForJobs(pool, kind);
}

// One dispatch of `call`: band i of the pool's threadCount on worker i, or
// band 0 of 1 on the caller's thread for a pool with no workers; returns
// when every band is done.
void DispatchCall(WorkerPool& pool, BandCall call, const void* context);

#ifdef ZEMIVTC_WORKERS_FAULTS
// Test builds that compile worker_pool.cpp with ZEMIVTC_WORKERS_FAULTS can make
// the n-th event creation or thread start (counted from 1 per StartWorkers
// call; 0: never) or the record allocation fail.
struct WorkerPoolFaults {
  int failEventAt;
  int failThreadAt;
  bool failAllocation;
};
extern WorkerPoolFaults workerPoolFaults;
#endif

#endif
