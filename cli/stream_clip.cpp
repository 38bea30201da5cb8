#include "cli/stream_clip.h"

#include <climits>
#include <cstring>

#include "cli/errors.h"

namespace cli {

StreamClip::StreamClip(std::unique_ptr<stream::FrameReader> source, int keep)
    : reader(std::move(source)), kept(static_cast<size_t>(keep > 0 ? keep : 1)) {
  const stream::Y4mHeader& h = reader->Header();
  vi.width = h.width;
  vi.height = h.height;
  vi.fps_numerator = h.fpsNumerator ? h.fpsNumerator : 30000;
  vi.fps_denominator = h.fpsDenominator ? h.fpsDenominator : 1001;
  // 4:2:2 and 4:2:0 frames alike are handed over as packed YUY2 rows.
  vi.pixel_type = CS_YUY2;
  // A pipe's length is unknown until its end; requests past the end clamp,
  // so the clip presents itself as long as anything may ask for.
  const int estimate = reader->EstimatedFrameCount();
  vi.num_frames = estimate >= 0 ? estimate : INT_MAX;
}

StreamClip::Kept* StreamClip::Find(int n) {
  for (Kept& k : kept)
    if (k.index == n) return &k;
  return nullptr;
}

stream::StoredFrame StreamClip::StoredBytes(const PVideoFrame& frame) const {
  for (const Kept& k : kept)
    if (k.frame && k.frame.get() == frame.get()) return k.stored;
  return stream::StoredFrame();
}

// Reads frame n into the next slot: converted at once, or (deferred) only
// stored. Null at the end of the input.
StreamClip::Kept* StreamClip::Load(int n, IScriptEnvironment* env) {
  Kept loaded;
  loaded.index = n;
  bool read;
  if (deferred) {
    read = reader->ReadFrame(n, nullptr, 0, &loaded.stored);
  } else {
    loaded.frame = env->NewVideoFrame(vi);
    loaded.converted = true;
    read = reader->ReadFrame(n, loaded.frame->GetWritePtr(), loaded.frame->GetPitch(), &loaded.stored);
  }
  if (!read) return nullptr;
  Kept& slot = kept[nextSlot];
  slot = std::move(loaded);
  nextSlot = (nextSlot + 1) % kept.size();
  return &slot;
}

// The frame for a request of frame `requested` (before clamping): converted,
// unless it is the frame expected back unchanged.
PVideoFrame StreamClip::HandOut(Kept& k, int requested, IScriptEnvironment* env) {
  if (k.converted) return k.frame;
  if (requested == unchangedFrame) {
    // Its pixels are never written: the caller writes the stored bytes.
    if (!k.frame) k.frame = env->NewVideoFrame(vi);
    handedOutUnconverted = true;
    return k.frame;
  }
  // A new frame even when an unconverted one was handed out before: frames
  // are written only while fresh from NewVideoFrame.
  PVideoFrame frame = env->NewVideoFrame(vi);
  reader->Convert(k.stored, frame->GetWritePtr(), frame->GetPitch());
  k.frame = frame;
  k.converted = true;
  return frame;
}

PVideoFrame StreamClip::Blank(IScriptEnvironment* env) {
  PVideoFrame frame = env->NewVideoFrame(vi);
  for (int row = 0; row < vi.height; ++row)
    std::memset(frame->GetWritePtr() + row * frame->GetPitch(), 0, vi.RowSize());
  return frame;
}

// Frame n (clamped to the input's end) in a slot; throws CliError.
StreamClip::Kept* StreamClip::Fetch(int n, IScriptEnvironment* env) {
  if (n < 0) n = 0;
  highestRequest = std::max(highestRequest, n);
  const int count = reader->KnownFrameCount();
  if (count == 0) throw CliError("the input holds no frames");
  if (count > 0 && n >= count) {
    n = count - 1;
    clamped = true;
  }
  if (Kept* k = Find(n)) return k;
  if (!reader->Seekable() && n < reader->NextFrame())
    throw CliError("input frame " + std::to_string(n) + " was asked for after frame " +
                   std::to_string(reader->NextFrame() - 1) + " and is no longer buffered; a pipe cannot go back");
  // A pipe is read forward frame by frame, each one kept: whichever turns
  // out to be the last must still be at hand when a request clamps to it.
  while (reader->Seekable() || reader->NextFrame() <= n) {
    const int next = reader->Seekable() ? n : reader->NextFrame();
    Kept* k = Load(next, env);
    if (!k) break;  // the end came first
    if (next == n) return k;
  }
  const int total = reader->KnownFrameCount();
  if (total <= 0) throw CliError("the input holds no frames");
  clamped = true;
  if (Kept* k = Find(total - 1)) return k;
  if (Kept* k = Load(total - 1, env)) return k;
  throw CliError("input frame " + std::to_string(total - 1) + " could not be read again");
}

// Runs `work`, recording its failure instead of throwing it.
template <typename Fetched, typename Work>
Fetched StreamClip::Recorded(Fetched onFailure, Work work) {
  if (Failed()) return onFailure;
  try {
    return work();
  } catch (const CliError& e) {
    error = e.what();
  } catch (const std::exception& e) {
    error = std::string("reading the input failed: ") + e.what();
  }
  return onFailure;
}

PVideoFrame AVSC_CC StreamClip::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = Recorded(PVideoFrame(), [&] { return HandOut(*Fetch(n, env), std::max(n, 0), env); });
  return frame ? frame : Blank(env);
}

stream::StoredFrame StreamClip::StoredSource(int n, IScriptEnvironment* env) {
  return Recorded(stream::StoredFrame(), [&] {
    Kept* k = Fetch(n, env);
    if (!reader->Raw()) reader->LoadStoredBytes(k->stored);
    return k->stored;
  });
}

// The filter sees every source top field first: a bottom-field-first one is
// handed over mirrored, its first field on top.
bool AVSC_CC StreamClip::GetParity(int) { return true; }

void AVSC_CC StreamClip::GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) {}

}  // namespace cli
