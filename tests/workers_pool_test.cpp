// Worker pool: lifecycle, start-up failures, weave and filter dispatches, stray
// wakes and repeated dispatch.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/crt.h"
#include "platform/platform.h"
#include "tests/wait_for.h"
#include "workers/worker_pool.h"

namespace {

const uint8_t kGuard = 0xEE;

int TaskCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

// A joined thread can stay listed for a while the kernel finishes reaping it
// (long on a loaded machine), so the count is given until the deadline to
// settle; the caller compares what was seen last.
int SettledTaskCount(int expected) {
  return testing_support::WaitFor(TaskCount, [expected](int count) { return count == expected; });
}

bool IsZeroed(const WorkerPool& pool) {
  return pool.threadCount == 0 && pool.doneEvent == nullptr && pool.jobs == nullptr && pool.threads == nullptr;
}

// A frame of `rows` rows of 2 * width bytes at `pitch`, with guard bytes in the
// padding and one guard row after it.
struct Frame {
  int32_t width, rows, pitch;
  std::vector<uint8_t> bytes;
  Frame(int32_t w, int32_t h, int32_t p) : width(w), rows(h), pitch(p), bytes(size_t(p) * (h + 1), kGuard) {}
  uint8_t* Row(int32_t r) { return bytes.data() + size_t(r) * pitch; }
  void Fill(uint32_t seed) {
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t x = 0; x < 2 * width; ++x) Row(r)[x] = uint8_t(seed * 131 + r * 7 + x * 3 + 1);
    }
  }
};

// Weaves a into even rows and b into odd rows of d, as the frame composer does:
// bands of row pairs, the unpaired last row of an odd height on the last band
// only (with fewer pairs than workers several bands end at the last pair).
void DispatchWeave(WorkerPool& pool, Frame& a, Frame& b, Frame& d) {
  const int32_t pairs = d.rows / 2;
  DispatchBands(pool, pairs, WeaveJob, [&](WorkerJob& job, int32_t start, int32_t end) {
    job.src = a.Row(2 * start);
    job.src2 = b.Row(2 * start);
    job.dst = d.Row(2 * start);
    job.srcStride = a.pitch;
    job.src2Stride = b.pitch;
    job.dstStride = d.pitch;
    job.width = d.width;
    job.rows = 2 * (end - start) + (IsLastBand(pool, job) ? d.rows % 2 : 0);
  });
}

// Checks every byte of d: woven rows, untouched padding and guard row.
void ExpectWoven(Frame& a, Frame& b, Frame& d) {
  for (int32_t r = 0; r <= d.rows; ++r) {
    for (int32_t x = 0; x < d.pitch; ++x) {
      uint8_t want = kGuard;
      if (r < d.rows && x < 2 * d.width) want = (r % 2 == 0 ? a : b).Row(r)[x];
      ASSERT_EQ(d.Row(r)[x], want) << "row " << r << " byte " << x;
    }
  }
}

// Threads of the process apart from the pool's. One pool is started and
// stopped first, since some runtimes (sanitizers) add a helper thread of their
// own when the first thread is made; its worker is waited for until it has
// left the list.
int BaseTaskCount() {
  WorkerPool pool{};
  if (!StartWorkers(pool, 1)) return TaskCount();
  const int withWorker = TaskCount();
  StopWorkers(pool);
  return SettledTaskCount(withWorker - 1);
}

// Waits until every worker of the pool is blocked on its wake event with no
// wake handed to it: each has finished its last job, set the done event and
// gone back to waiting. Fails with the first worker that does not get there.
testing::AssertionResult AllWorkersIdle(const WorkerPool& pool) {
  for (int32_t i = 0; i < pool.threadCount; ++i) {
    const platform::EventState state = testing_support::WaitFor(
        [&] { return platform::InspectEvent(pool.jobs[i].wakeEvent); },
        [](const platform::EventState& s) { return s.waiting == 1 && s.releases == 0 && !s.signalled; });
    if (state.waiting != 1 || state.releases != 0 || state.signalled) {
      return testing::AssertionFailure() << "worker " << i << " not back waiting by the deadline: " << state.waiting
                                         << " waiting, " << state.releases << " releases pending, signalled "
                                         << state.signalled;
    }
  }
  return testing::AssertionSuccess();
}

TEST(WorkerPoolLifecycle, StartStopCyclesLeaveNoThreads) {
  const int base = BaseTaskCount();
  ASSERT_GT(base, 0);
  for (int32_t count : {1, 2, 3, 7, 16, 64}) {
    for (int cycle = 0; cycle < 3; ++cycle) {
      SCOPED_TRACE(testing::Message() << count << " workers, cycle " << cycle);
      WorkerPool pool{};
      ASSERT_TRUE(StartWorkers(pool, count));
      EXPECT_EQ(pool.threadCount, count);
      EXPECT_EQ(TaskCount(), base + count);
      for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(platform::LoadAcquire(&pool.jobs[i].state), Ready);  // start returns only once all are waiting
        EXPECT_EQ(pool.jobs[i].doneEvent, pool.doneEvent);
      }
      StopWorkers(pool);
      EXPECT_TRUE(IsZeroed(pool));
      EXPECT_EQ(SettledTaskCount(base), base);
    }
  }
}

TEST(WorkerPoolLifecycle, ProductStartUsesProcessorCountAndStopIsIdempotent) {
  WorkerPool pool{};
  ASSERT_TRUE(StartWorkers(pool));
  EXPECT_EQ(pool.threadCount, platform::ProcessorCount());
  StopWorkers(pool);
  EXPECT_TRUE(IsZeroed(pool));
  StopWorkers(pool);  // a zeroed pool is left alone
  EXPECT_TRUE(IsZeroed(pool));
}

TEST(WorkerPoolLifecycle, StartFailuresLeaveNothingBehind) {
  const int base = BaseTaskCount();
  struct Case {
    const char* what;
    int32_t count;
    WorkerPoolFaults faults;
  } cases[] = {
      {"no workers", 0, {0, 0, false}},      {"record allocation", 4, {0, 0, true}},
      {"done event", 4, {1, 0, false}},      {"first wake event", 4, {2, 0, false}},
      {"last wake event", 4, {5, 0, false}}, {"first thread", 4, {0, 1, false}},
      {"middle thread", 7, {0, 4, false}},   {"last thread", 16, {0, 16, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    workerPoolFaults = c.faults;
    WorkerPool pool{};
    pool.threadCount = 99;  // stale contents must not leak into the result
    EXPECT_FALSE(StartWorkers(pool, c.count));
    workerPoolFaults = WorkerPoolFaults{0, 0, false};
    EXPECT_TRUE(IsZeroed(pool));
    EXPECT_EQ(SettledTaskCount(base), base);
  }
  // The pool still starts normally afterwards.
  WorkerPool pool{};
  ASSERT_TRUE(StartWorkers(pool, 3));
  StopWorkers(pool);
}

class WorkerPoolDispatch : public testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override { ASSERT_TRUE(StartWorkers(pool, GetParam())); }
  void TearDown() override { StopWorkers(pool); }
  WorkerPool pool{};
};

// Frame pitches all differ from each other and from 2 * width; heights cover
// odd totals, a single row and fewer row pairs than workers.
TEST_P(WorkerPoolDispatch, WeaveAddressesEveryFrameByItsOwnPitch) {
  const int32_t width = 10;
  for (int32_t height : {1, 2, 3, 5, 6, 9, 14, 15, 31, 64, 101}) {
    SCOPED_TRACE(testing::Message() << "height " << height);
    Frame a(width, height, 24), b(width, height, 40), d(width, height, 32);
    a.Fill(1);
    b.Fill(2);
    DispatchWeave(pool, a, b, d);
    ExpectWoven(a, b, d);
    for (int32_t i = 0; i < pool.threadCount; ++i) EXPECT_EQ(platform::LoadAcquire(&pool.jobs[i].state), Done);
  }
}

// Banded filter output, with the table slices the composer hands out, equals
// the kernel run over the whole frame in one call.
TEST_P(WorkerPoolDispatch, FilterBandsEqualOneBand) {
  const int32_t width = 13;
  for (int32_t height : {2, 3, 7, 48, 97}) {
    for (int table = 0; table < 2; ++table) {
      SCOPED_TRACE(testing::Message() << "height " << height << (table ? " lanczos" : " smooth"));
      Frame src(width, height, 30);
      src.Fill(5 + table);
      VerticalFilterTable t{};
      if (table == 0) {
        BuildSmoothTable(height, t, src.pitch);
      } else {
        BuildLanczosTable(height / 2 > 0 ? height / 2 : 1, height, t, 2 * src.pitch, -0.4);
      }
      ASSERT_EQ(t.rows, height);
      Frame whole(width, height, 28), banded(width, height, 28);
      VerticalFilterKernel(src.Row(0), whole.Row(0), width, height, t.taps, t.offsets, t.coeffs, whole.pitch);
      DispatchBands(pool, height, FilterJob, [&](WorkerJob& job, int32_t start, int32_t end) {
        job.src = src.Row(0);
        job.dst = banded.Row(start);
        job.width = width;
        job.rows = end - start;
        job.taps = t.taps;
        job.offsets = t.offsets + size_t(start) * t.taps;
        job.coeffs = t.coeffs + size_t(start) * t.taps;
        job.srcStride = src.pitch;
        job.dstStride = banded.pitch;
      });
      EXPECT_EQ(banded.bytes, whole.bytes);
      FreeTable(t);
    }
  }
}

// A weave job whose band is large still has to be waited for when a done
// signal is left over from the start-up handshake or an earlier dispatch.
TEST_P(WorkerPoolDispatch, LeftoverDoneSignalDoesNotEndTheWait) {
  Frame a(960, 1080, 1920), b(960, 1080, 1920), d(960, 1080, 1920);
  a.Fill(7);
  b.Fill(8);
  platform::SetEvent(pool.doneEvent);
  DispatchWeave(pool, a, b, d);
  ExpectWoven(a, b, d);
}

// Many dispatches of both kinds back to back; every one must be complete when
// its wait returns (content changes every round).
TEST_P(WorkerPoolDispatch, RepeatedDispatchesEachComplete) {
  const int32_t width = 6, height = 23;
  Frame a(width, height, 12), b(width, height, 14), d(width, height, 16);
  for (uint32_t round = 0; round < 1500; ++round) {
    a.Fill(round);
    b.Fill(round + 1000);
    DispatchWeave(pool, a, b, d);
    ExpectWoven(a, b, d);
    if (testing::Test::HasFatalFailure()) return;
    // An empty filter pass between weaves: every job posted, none touches memory.
    DispatchBands(pool, 0, FilterJob, [](WorkerJob& job, int32_t start, int32_t end) {
      job.src = nullptr;
      job.dst = nullptr;
      job.rows = end - start;
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, WorkerPoolDispatch, testing::Values(1, 2, 3, 4, 7, 8));

// A wake with nothing posted (state Ready or Done) stores nothing, reports
// nothing and leaves the worker able to take the next job.
TEST(WorkerPoolStrayWake, ChangesNothingInReadyOrDone) {
  WorkerPool pool{};
  ASSERT_TRUE(StartWorkers(pool, 2));
  Frame a(4, 4, 8), b(4, 4, 8), d(4, 4, 8);
  for (WorkerState idle : {Ready, Done}) {
    SCOPED_TRACE(idle == Ready ? "Ready" : "Done");
    if (idle == Done) DispatchWeave(pool, a, b, d);
    // A worker may still be between storing Done and setting the done event:
    // once all are back waiting, every set of the done event has been made.
    ASSERT_TRUE(AllWorkersIdle(pool));
    while (platform::WaitForEvent(pool.doneEvent, 0)) {
    }
    for (int32_t i = 0; i < pool.threadCount; ++i) platform::SetEvent(pool.jobs[i].wakeEvent);
    // Each has taken its stray wake and is waiting again: had it stored or
    // reported anything, it would have done so by now.
    ASSERT_TRUE(AllWorkersIdle(pool));
    EXPECT_FALSE(platform::WaitForEvent(pool.doneEvent, 0));
    for (int32_t i = 0; i < pool.threadCount; ++i) EXPECT_EQ(platform::LoadAcquire(&pool.jobs[i].state), idle);
    a.Fill(idle);
    b.Fill(idle + 10);
    DispatchWeave(pool, a, b, d);
    ExpectWoven(a, b, d);
  }
  StopWorkers(pool);
}

}  // namespace
