#include "stream/row_bands.h"

#include <algorithm>

namespace stream {
namespace {

int BandBegin(int band, int bands, int rows) { return static_cast<int>(static_cast<long long>(rows) * band / bands); }

}  // namespace

RowBands::RowBands(int threads) {
  if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, MaxThreads));
  for (int i = 1; i < threads; ++i) helpers.emplace_back(&RowBands::Helper, this);
}

RowBands::~RowBands() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
  }
  start.notify_all();
  for (std::thread& t : helpers) t.join();
}

void RowBands::ClaimBands(const std::function<void(int, int)>& work, int rows, int bands) {
  for (int band; (band = nextBand.fetch_add(1)) < bands; ++finishedBands) {
    try {
      work(BandBegin(band, bands, rows), BandBegin(band + 1, bands, rows));
    } catch (...) {
      std::lock_guard<std::mutex> hold(lock);
      if (!failure) failure = std::current_exception();
    }
  }
}

void RowBands::Helper() {
  unsigned seen = 0;
  for (;;) {
    const std::function<void(int, int)>* work;
    int rows, bands;
    {
      std::unique_lock<std::mutex> hold(lock);
      start.wait(hold, [&] { return stopping || generation != seen; });
      if (stopping) return;
      seen = generation;
      if (job == nullptr) continue;  // woken too late: that job is over
      work = job;
      rows = jobRows;
      bands = jobBands;
      ++active;
    }
    ClaimBands(*work, rows, bands);
    std::lock_guard<std::mutex> hold(lock);
    --active;
    done.notify_one();
  }
}

void RowBands::Run(int rows, int minRows, const std::function<void(int, int)>& work) {
  if (rows <= 0) return;
  const int bands = std::max(1, std::min(Threads() * BandsPerThread, rows / std::max(1, minRows)));
  if (bands == 1) {
    work(0, rows);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    job = &work;
    jobRows = rows;
    jobBands = bands;
    nextBand = 0;
    finishedBands = 0;
    failure = nullptr;
    ++generation;
  }
  start.notify_all();
  ClaimBands(work, rows, bands);
  std::unique_lock<std::mutex> hold(lock);
  // Every band done, and no helper still holds the job (it would claim from
  // the next job's counter).
  done.wait(hold, [&] { return finishedBands.load() == bands && active == 0; });
  job = nullptr;
  std::exception_ptr error = failure;
  failure = nullptr;
  hold.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace stream
