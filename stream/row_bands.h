// Runs per-row work over a frame in bands on the caller's thread and helper
// threads started once. Bands are claimed one at a time by whichever thread
// is free, so a helper that the system does not schedule in time costs
// nothing: the caller converts the rest itself. The command uses it for its
// planar/packed conversions, which would otherwise run on one core while
// the filter's workers use all of them.
#ifndef ZEMIVTC_STREAM_ROW_BANDS_H
#define ZEMIVTC_STREAM_ROW_BANDS_H

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace stream {

class RowBands {
 public:
  // `threads` bands at most (the caller's thread included); 0 picks one per
  // processor, up to MaxThreads.
  explicit RowBands(int threads = 0);
  ~RowBands();
  RowBands(const RowBands&) = delete;
  RowBands& operator=(const RowBands&) = delete;

  static constexpr int MaxThreads = 4;
  static constexpr int BandsPerThread = 4;
  int Threads() const { return static_cast<int>(helpers.size()) + 1; }

  // Calls work(begin, end) for consecutive bands covering rows [0, rows)
  // (at most BandsPerThread * Threads() of them) and returns when all are
  // done. Bands hold at least `minRows` rows, so small frames stay on the
  // caller's thread. An exception from any band is rethrown here. Not
  // reentrant: one Run at a time.
  void Run(int rows, int minRows, const std::function<void(int, int)>& work);

 private:
  void Helper();
  // Runs bands of the current job until none is left to claim.
  void ClaimBands(const std::function<void(int, int)>& work, int rows, int bands);

  std::vector<std::thread> helpers;
  std::mutex lock;
  std::condition_variable start, done;
  // The job: set and cleared under `lock`; helpers pick it up under `lock`.
  const std::function<void(int, int)>* job = nullptr;
  int jobRows = 0;
  int jobBands = 0;
  unsigned generation = 0;
  int active = 0;  // helpers working on the job
  bool stopping = false;
  std::exception_ptr failure;
  std::atomic<int> nextBand{0};
  std::atomic<int> finishedBands{0};
};

}  // namespace stream

#endif
