// Cost of one pool dispatch with nothing to do: fill and post an empty job to
// every worker, then wait until all are done. This is the fixed overhead each
// weave and each filter pass pays on top of its pixel work. Also a full-size
// weave beside a plain memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

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

// A whole 720x480 weave on the pool, beside one memcpy of the same bytes on
// the calling thread: what banding buys (or costs) for a frame of real size.
const int32_t kWidth = 720;
const int32_t kHeight = 480;
const int32_t kPitch = 2 * kWidth;

void BM_DispatchWeave720x480(benchmark::State& state) {
  std::vector<uint8_t> a(size_t(kPitch) * kHeight, 1), b(a.size(), 2), d(a.size());
  WorkerPool pool{};
  if (!StartWorkers(pool)) {
    state.SkipWithError("the worker pool did not start");
    return;
  }
  for (auto _ : state) {
    DispatchBands(pool, kHeight / 2, WeaveJob, [&](WorkerJob& job, int32_t start, int32_t end) {
      job.src = a.data() + size_t(start) * 2 * kPitch;
      job.src2 = b.data() + size_t(start) * 2 * kPitch;
      job.dst = d.data() + size_t(start) * 2 * kPitch;
      job.srcStride = job.src2Stride = job.dstStride = kPitch;
      job.width = kWidth;
      job.rows = 2 * (end - start);
    });
    benchmark::DoNotOptimize(d.data());
  }
  state.counters["workers"] = pool.threadCount;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
  StopWorkers(pool);
}
BENCHMARK(BM_DispatchWeave720x480)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_MemcpyFrame720x480(benchmark::State& state) {
  std::vector<uint8_t> a(size_t(kPitch) * kHeight, 1), d(a.size());
  for (auto _ : state) {
    std::memcpy(d.data(), a.data(), d.size());
    benchmark::DoNotOptimize(d.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}
BENCHMARK(BM_MemcpyFrame720x480)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
