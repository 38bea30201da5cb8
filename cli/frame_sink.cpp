#include "cli/frame_sink.h"

namespace cli {

FrameSink::FrameSink(stream::FrameWriter& frameWriter) : writer(frameWriter), thread(&FrameSink::Run, this) {}

FrameSink::~FrameSink() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
}

void FrameSink::RethrowFailure() {
  if (failure) std::rethrow_exception(failure);
}

void WriteOutputFrame(stream::FrameWriter& writer, const OutputFrame& output) {
  if (output.frame)
    writer.WriteFrame(output.frame, output.format);
  else if (output.lower.Valid())
    writer.WriteWoven(output.stored.data, output.lower.data);
  else
    writer.WriteStored(output.stored);
}

void FrameSink::Push(OutputFrame output) {
  std::unique_lock<std::mutex> hold(lock);
  changed.wait(hold, [&] { return !queued || failure; });
  RethrowFailure();
  next = std::move(output);
  queued = true;
  hold.unlock();
  changed.notify_all();
}

void FrameSink::Finish() {
  std::unique_lock<std::mutex> hold(lock);
  changed.wait(hold, [&] { return (!queued && !writing) || failure; });
  RethrowFailure();
}

void FrameSink::Run() {
  std::unique_lock<std::mutex> hold(lock);
  for (;;) {
    changed.wait(hold, [&] { return queued || stopping; });
    if (stopping) break;
    OutputFrame current = std::move(next);
    next = OutputFrame();
    queued = false;
    writing = true;
    hold.unlock();
    changed.notify_all();  // room for the next frame while this one is written
    std::exception_ptr error;
    try {
      WriteOutputFrame(writer, current);
    } catch (...) {
      error = std::current_exception();
    }
    // Frames and stored buffers go back before the next one is taken.
    current = OutputFrame();
    hold.lock();
    writing = false;
    if (error && !failure) failure = error;
    changed.notify_all();
    if (failure) break;
  }
  // Whatever is still queued is dropped here, on this thread's way out.
  next = OutputFrame();
}

}  // namespace cli
