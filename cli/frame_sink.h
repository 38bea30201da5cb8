// Writes output frames on a thread of its own, one frame behind the filter:
// while the filter's workers make frame n+1, frame n is converted to planar
// rows and written. The filter's work is mostly arithmetic and the
// conversion mostly memory traffic, so the two overlap well, and a slow
// reader of the output no longer holds up the filter.
#ifndef ZEMIVTC_CLI_FRAME_SINK_H
#define ZEMIVTC_CLI_FRAME_SINK_H

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "host/avisynth.h"
#include "stream/frame_reader.h"
#include "stream/output.h"

namespace cli {

class FrameSink {
 public:
  // `writer` must outlive the sink and is used only by the sink's thread
  // from now on.
  explicit FrameSink(stream::FrameWriter& writer);
  // Stops after the frame being written (a queued one is dropped).
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // Queues a frame: its stored planar bytes when `stored` is valid, else its
  // YUY2 rows. Waits while the previous frame is still queued; rethrows a
  // write failure of an earlier frame.
  void Push(const PVideoFrame& frame, const stream::StoredFrame& stored);
  // Returns when every queued frame is written; rethrows a write failure.
  void Finish();

 private:
  void Run();
  void RethrowFailure();

  stream::FrameWriter& writer;
  std::mutex lock;
  std::condition_variable changed;
  bool queued = false;   // `frame`/`stored` wait to be written
  bool writing = false;  // the thread is writing a frame
  bool stopping = false;
  PVideoFrame frame;
  stream::StoredFrame stored;
  std::exception_ptr failure;
  std::thread thread;
};

}  // namespace cli

#endif
