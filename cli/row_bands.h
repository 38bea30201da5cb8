// Runs per-row work over a frame in bands, one per thread: the caller's
// thread takes the first band and helper threads, started once, the rest.
// The command uses it for its planar/packed conversions, which would
// otherwise run on one core while the filter's workers use all of them.
#ifndef ZEMIVTC_CLI_ROW_BANDS_H
#define ZEMIVTC_CLI_ROW_BANDS_H

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

class RowBands {
 public:
  // `threads` bands at most (the caller's thread included); 0 picks one per
  // processor, up to MaxThreads.
  explicit RowBands(int threads = 0);
  ~RowBands();
  RowBands(const RowBands&) = delete;
  RowBands& operator=(const RowBands&) = delete;

  static constexpr int MaxThreads = 4;
  int Threads() const { return static_cast<int>(helpers.size()) + 1; }

  // Calls work(begin, end) for consecutive bands covering rows [0, rows) and
  // returns when all are done. Bands hold at least `minRows` rows, so small
  // frames stay on the caller's thread. An exception from any band is
  // rethrown here. Not reentrant: one Run at a time.
  void Run(int rows, int minRows, const std::function<void(int, int)>& work);

 private:
  void Helper(int index);

  std::vector<std::thread> helpers;
  std::mutex lock;
  std::condition_variable start, done;
  const std::function<void(int, int)>* job = nullptr;
  int jobRows = 0;
  int jobBands = 0;
  unsigned generation = 0;
  int pending = 0;
  bool stopping = false;
  std::exception_ptr failure;
};

}  // namespace cli

#endif
