#include "cli/row_bands.h"

#include <algorithm>

namespace cli {
namespace {

int BandBegin(int band, int bands, int rows) { return static_cast<int>(static_cast<long long>(rows) * band / bands); }

}  // namespace

RowBands::RowBands(int threads) {
  if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, MaxThreads));
  for (int i = 1; i < threads; ++i) helpers.emplace_back(&RowBands::Helper, this, i);
}

RowBands::~RowBands() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
  }
  start.notify_all();
  for (std::thread& t : helpers) t.join();
}

void RowBands::Helper(int index) {
  unsigned seen = 0;
  for (;;) {
    const std::function<void(int, int)>* work;
    int rows, bands;
    {
      std::unique_lock<std::mutex> hold(lock);
      start.wait(hold, [&] { return stopping || generation != seen; });
      if (stopping) return;
      seen = generation;
      if (index >= jobBands) continue;  // this job has fewer bands than threads
      work = job;
      rows = jobRows;
      bands = jobBands;
    }
    std::exception_ptr error;
    try {
      (*work)(BandBegin(index, bands, rows), BandBegin(index + 1, bands, rows));
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(lock);
    if (error && !failure) failure = error;
    if (--pending == 0) done.notify_one();
  }
}

void RowBands::Run(int rows, int minRows, const std::function<void(int, int)>& work) {
  if (rows <= 0) return;
  const int bands = std::max(1, std::min(Threads(), rows / std::max(1, minRows)));
  if (bands == 1) {
    work(0, rows);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    job = &work;
    jobRows = rows;
    jobBands = bands;
    pending = bands - 1;
    failure = nullptr;
    ++generation;
  }
  start.notify_all();
  std::exception_ptr error;
  try {
    work(0, BandBegin(1, bands, rows));
  } catch (...) {
    error = std::current_exception();
  }
  std::unique_lock<std::mutex> hold(lock);
  done.wait(hold, [&] { return pending == 0; });
  job = nullptr;
  if (!error) error = failure;
  failure = nullptr;
  hold.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace cli
