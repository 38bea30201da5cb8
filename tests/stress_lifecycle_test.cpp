// Many filter lifetimes in one process: at each worker count, up to 1,000 cycles of
// create, frames of every code, destroy. Every worker thread, event, heap
// block and file descriptor a filter takes must be gone when it is. Threads
// are counted in /proc/self/task, descriptors in /proc/self/fd, heap blocks
// and bytes by counting allocator entry points here, or in the sanitizer
// runs (scripts/sanitize.sh) the sanitizer's allocator through its hooks.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <string>

#include "module_fixture.h"
#include "tests/wait_for.h"

using namespace testing_support;

namespace {

int EntriesIn(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return -1;
  int count = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++count;
  closedir(d);
  return count;
}

int ThreadCount() { return EntriesIn("/proc/self/task"); }

// The thread count once it reaches `want`, or at the deadline whatever it is.
// A joined thread has finished running but may stay listed in
// /proc/self/task while the kernel takes it down (long on a loaded machine);
// a thread that was never stopped stays for good.
int ThreadCountSettledAt(int want) {
  return WaitFor(ThreadCount, [want](int count) { return count == want; });
}
int OpenDescriptors() { return EntriesIn("/proc/self/fd"); }

// Heap blocks and bytes live in the whole process, module included: this
// program defines the allocator's entry points, so the module's calls (bound
// at load time to the first definition) come here too. Under the sanitizers
// their own allocators stand in, and report each block to the hooks here.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define STRESS_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STRESS_SANITIZER_HEAP 1
#endif
#endif

struct HeapUse {
  long blocks, bytes;
  bool operator==(const HeapUse& o) const { return blocks == o.blocks && bytes == o.bytes; }
};
std::ostream& operator<<(std::ostream& out, const HeapUse& h) {
  return out << h.blocks << " blocks, " << h.bytes << " bytes";
}

std::atomic<long> liveBlocks{0};
std::atomic<long> liveBytes{0};
void Count(const volatile void* block, long bytes, long sign) {
  if (block) {
    liveBlocks.fetch_add(sign, std::memory_order_relaxed);
    liveBytes.fetch_add(sign * bytes, std::memory_order_relaxed);
  }
}
HeapUse HeapInUse() { return {liveBlocks.load(), liveBytes.load()}; }
#ifdef STRESS_SANITIZER_HEAP
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* block);
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void* block, size_t bytes) { Count(block, static_cast<long>(bytes), 1); },
    [](const volatile void* block) { Count(block, static_cast<long>(__sanitizer_get_allocated_size(block)), -1); });
#else
void* Counted(void* block) { return Count(block, static_cast<long>(malloc_usable_size(block)), 1), block; }
void Uncount(void* block) { Count(block, static_cast<long>(malloc_usable_size(block)), -1); }
#endif

// The number of cycles at a worker count: 1,000 lifetimes, but at most as
// many as start 16,000 worker threads (250 at 64 workers). A lifetime that
// leaks shows after a few cycles (one block or thread each time, against an
// allowance of one per hundred lifetimes); what more cycles buy is more
// start-up and shutdown interleavings, which grow with the threads started,
// while the cost of a cycle on a loaded machine grows with every thread that
// must be scheduled to take each of its frames' jobs. ZEMIVTC_STRESS_CYCLES
// sets the 1,000 (the thread sanitizer run, where a thread start costs far
// more, asks for fewer).
int Cycles(int workers) {
  const char* text = std::getenv("ZEMIVTC_STRESS_CYCLES");
  const int value = text ? std::atoi(text) : 0;
  const int cycles = value > 0 ? value : 1000;
  const int threadBudget = 16 * cycles;
  return workers * cycles > threadBudget ? threadBudget / workers : cycles;
}

// One full lifetime: create, every frame of the plan, destroy.
void OneLifetime(host::ScriptEnvironment& env, host::MemoryClip* clip, const std::string& planPath, int workers,
                 int width, int height, int baseThreads, HeapUse baseHeap, bool countThreads) {
  clip->requests.clear();  // keeps its capacity: the record of requests does not grow
  PClip filter = InvokeZemIvtc(env, clip, planPath.c_str()).AsClip();
  if (countThreads) {
    ASSERT_EQ(ThreadCountSettledAt(baseThreads + workers), baseThreads + workers) << "threads while a filter lives";
    ASSERT_GT(HeapInUse().blocks, baseHeap.blocks) << "the heap count does not see the filter";
  }
  const int frames = filter->GetVideoInfo().num_frames;
  for (int n = 0; n < frames; ++n) {
    PVideoFrame frame = filter->GetFrame(n, &env);
    ASSERT_TRUE(frame);
    ASSERT_GE(frame->GetRowSize(), 2 * width);
    ASSERT_EQ(frame->GetHeight(), height);
  }
}

class StressLifecycle : public ::testing::TestWithParam<int> {
 protected:
  void TearDown() override { unsetenv("ZEMIVTC_TEST_PROCESSORS"); }
};

TEST_P(StressLifecycle, CreateDestroyCyclesLeaveNoThreadDescriptorOrHeapByte) {
  const int workers = GetParam();
  setenv("ZEMIVTC_TEST_PROCESSORS", std::to_string(workers).c_str(), 1);
  const int width = 13, height = 7;
  // Every code at both parities, so each lifetime weaves, smooths and
  // rebuilds both fields (and so builds its pitched offsets too).
  PlanFile plan("1234560654321");
  host::MemoryClip* memory = RandomClip(width, height, 8, 4242);
  PClip clip(memory);
  host::ScriptEnvironment env;
  env.LoadPlugin(ZEMIVTC_TESTHOOKS_MODULE_PATH);
  env.SetExtraPitch(12);  // new frames wider than 2 * width: the pitched path

  // One warm-up lifetime lets the allocator and the thread library set up
  // what they keep for the whole process (arenas, stack cache).
  const int baseThreads = ThreadCount();
  ASSERT_GT(baseThreads, 0) << "/proc/self/task is not readable";
  OneLifetime(env, memory, plan.path, workers, width, height, baseThreads, HeapUse{0, 0}, true);
  const int baseDescriptors = OpenDescriptors();
  const HeapUse baseHeap = HeapInUse();

  const int cycles = Cycles(workers);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    // Threads are counted on a sample of cycles: reading /proc is slower
    // than a lifetime.
    OneLifetime(env, memory, plan.path, workers, width, height, baseThreads, baseHeap, cycle % 97 == 0);
    if (HasFatalFailure()) FAIL() << "cycle " << cycle;
    if (cycle % 97 == 0) {
      ASSERT_EQ(ThreadCountSettledAt(baseThreads), baseThreads) << "cycle " << cycle;
    }
  }
  EXPECT_EQ(ThreadCountSettledAt(baseThreads), baseThreads);
  EXPECT_EQ(OpenDescriptors(), baseDescriptors);
  // A lifetime that leaks leaves its blocks behind every time: a thousand of
  // them. What the C library keeps for its own use (the per-thread blocks of
  // the stacks it caches for new threads) can differ by a few blocks from
  // the warm-up's, depending on how the threads were scheduled; that much is
  // allowed, less than one block per hundred lifetimes.
  const HeapUse heap = HeapInUse();
  EXPECT_LT(heap.blocks - baseHeap.blocks, cycles / 100 + 1)
      << "heap in use after " << cycles << " lifetimes: " << heap << ", after the warm-up: " << baseHeap;
  EXPECT_LT(heap.bytes - baseHeap.bytes, 1024L * (cycles / 100 + 1)) << "heap bytes after " << cycles << " lifetimes";
  EXPECT_EQ(clip->RefCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, StressLifecycle, ::testing::Values(1, 2, 16, 64));

// Creations that fail part-way leave nothing behind either: a plan that
// cannot be opened, a clip refused for its format or height, and a plan that
// makes no frame asked for a frame.
TEST(StressLifecycleRefusals, RefusedCreationsAndFailedFramesLeaveNothing) {
  setenv("ZEMIVTC_TEST_PROCESSORS", "4", 1);
  // Keeps the module loaded while each attempt brings its own environment
  // (the environment keeps the text of every error raised through it).
  host::ScriptEnvironment keeper;
  keeper.LoadPlugin(ZEMIVTC_TESTHOOKS_MODULE_PATH);
  PClip good(RandomClip(6, 4, 3, 1));
  PClip oneRow(RandomClip(6, 1, 3, 2));
  VideoInfo planar = Yuy2Info(6, 4, 0);
  planar.pixel_type = CS_YV12;
  PClip notYuy2(new host::MemoryClip(planar, {}));
  PlanFile empty("000");
  PlanFile plan("123");
  auto attempt = [&]() {
    host::ScriptEnvironment env;
    env.LoadPlugin(ZEMIVTC_TESTHOOKS_MODULE_PATH);
    EXPECT_EQ(CreationError(env, good.get(), "/nonexistent/plan"), "File open error");
    EXPECT_EQ(CreationError(env, good.get(), nullptr), "File open error");
    EXPECT_EQ(CreationError(env, oneRow.get(), plan.path.c_str()), "Video height must be at least 2");
    EXPECT_EQ(CreationError(env, notYuy2.get(), plan.path.c_str()), "Invalid video colorspace");
    PClip none = InvokeZemIvtc(env, good.get(), empty.path.c_str()).AsClip();
    EXPECT_THROW(none->GetFrame(0, &env), AvisynthError);
  };
  attempt();
  const int baseThreads = ThreadCount();
  const int baseDescriptors = OpenDescriptors();
  const HeapUse baseHeap = HeapInUse();
  for (int i = 0; i < 200; ++i) attempt();
  EXPECT_EQ(ThreadCountSettledAt(baseThreads), baseThreads);
  EXPECT_EQ(OpenDescriptors(), baseDescriptors);
  EXPECT_EQ(HeapInUse(), baseHeap);
  EXPECT_EQ(good->RefCount(), 1);
  EXPECT_EQ(oneRow->RefCount(), 1);
  EXPECT_EQ(notYuy2->RefCount(), 1);
  unsetenv("ZEMIVTC_TEST_PROCESSORS");
}

}  // namespace

#ifndef STRESS_SANITIZER_HEAP
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
void* realloc(void* block, size_t size) {
  Uncount(block);
  void* moved = __libc_realloc(block, size);
  if (!moved && size != 0) return Counted(block);  // the old block stays
  return Counted(moved);
}
void free(void* block) {
  Uncount(block);
  __libc_free(block);
}
void* memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = Counted(__libc_memalign(alignment, size));
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}
}
#endif
