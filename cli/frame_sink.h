// Writes output frames on a thread of its own, one frame behind the filter:
// while the filter's workers make frame n+1, frame n is converted to the
// output's format where it must be and written. The filter's work is mostly
// arithmetic and the writing mostly memory traffic, so the two overlap
// well, and a slow reader of the output no longer holds up the filter.
#ifndef ZEMIVTC_CLI_FRAME_SINK_H
#define ZEMIVTC_CLI_FRAME_SINK_H

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "compose/planes.h"
#include "stream/frame_reader.h"
#include "stream/output.h"

namespace cli {

// One output frame as it is written: a frame in `format` (one the filter
// made, or a source frame the output stores another way), or the bytes of a
// source frame as the input stored them (`stored` alone), or the weave of
// two such frames (`stored` the upper, `lower` the other).
struct OutputFrame {
  const uint8_t* frame = nullptr;  // written by FrameWriter::WriteFrame
  FrameFormat format = FormatYuv422;
  std::shared_ptr<const void> keep;  // holds `frame`'s buffer
  stream::StoredFrame stored;
  stream::StoredFrame lower;
};

void WriteOutputFrame(stream::FrameWriter& writer, const OutputFrame& output);

class FrameSink {
 public:
  // `writer` must outlive the sink and is used only by the sink's thread
  // from now on.
  explicit FrameSink(stream::FrameWriter& writer);
  // Stops after the frame being written (a queued one is dropped).
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // Queues a frame. Waits while the previous frame is still queued;
  // rethrows a write failure of an earlier frame.
  void Push(OutputFrame output);
  // Returns when every queued frame is written; rethrows a write failure.
  void Finish();

 private:
  void Run();
  void RethrowFailure();

  stream::FrameWriter& writer;
  std::mutex lock;
  std::condition_variable changed;
  bool queued = false;   // `next` waits to be written
  bool writing = false;  // the thread is writing a frame
  bool stopping = false;
  OutputFrame next;
  std::exception_ptr failure;
  std::thread thread;
};

}  // namespace cli

#endif
