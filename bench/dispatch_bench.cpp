// Cost of one pool dispatch with nothing to do: fill and post an empty job to
// every worker, then wait until all are done. This is the fixed overhead each
// weave and each filter pass pays on top of its pixel work.
#include <benchmark/benchmark.h>

#include "workers/worker_pool.h"

namespace {

void EmptyBand(WorkerJob& job, int32_t start, int32_t end) {
  job.src = nullptr;
  job.src2 = nullptr;
  job.dst = nullptr;
  job.width = 0;
  job.rows = end - start;
}

// Arg 0 means one worker per processor, as the filter runs.
void BM_DispatchEmptyJobs(benchmark::State& state) {
  WorkerPool pool{};
  const bool started = state.range(0) == 0 ? StartWorkers(pool) : StartWorkers(pool, int32_t(state.range(0)));
  if (!started) {
    state.SkipWithError("the worker pool did not start");
    return;
  }
  for (auto _ : state) DispatchBands(pool, 0, WeaveJob, EmptyBand);
  state.counters["workers"] = pool.threadCount;
  StopWorkers(pool);
}
BENCHMARK(BM_DispatchEmptyJobs)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
