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

void FrameSink::Push(const PVideoFrame& nextFrame, const stream::StoredFrame& nextStored) {
  std::unique_lock<std::mutex> hold(lock);
  changed.wait(hold, [&] { return !queued || failure; });
  RethrowFailure();
  frame = nextFrame;
  stored = nextStored;
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
    PVideoFrame current = std::move(frame);
    stream::StoredFrame currentStored = std::move(stored);
    frame = PVideoFrame();
    queued = false;
    writing = true;
    hold.unlock();
    changed.notify_all();  // room for the next frame while this one is written
    std::exception_ptr error;
    try {
      if (currentStored.Valid())
        writer.WriteStored(currentStored);
      else
        writer.WriteFrame(current->GetReadPtr(), current->GetPitch());
    } catch (...) {
      error = std::current_exception();
    }
    // Frames and stored buffers go back before the next one is taken.
    current = PVideoFrame();
    currentStored = stream::StoredFrame();
    hold.lock();
    writing = false;
    if (error && !failure) failure = error;
    changed.notify_all();
    if (failure) break;
  }
  // Whatever is still queued is dropped here, on this thread's way out.
  frame = PVideoFrame();
  stored = stream::StoredFrame();
}

}  // namespace cli
