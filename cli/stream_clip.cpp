#include "cli/stream_clip.h"

#include <climits>
#include <cstring>

#include "cli/errors.h"

namespace cli {

StreamClip::StreamClip(std::unique_ptr<FrameReader> source, int keep)
    : reader(std::move(source)), kept(static_cast<size_t>(keep > 0 ? keep : 1)) {
  const Y4mHeader& h = reader->Header();
  vi.width = h.width;
  vi.height = h.height;
  vi.fps_numerator = h.fpsNumerator ? h.fpsNumerator : 30000;
  vi.fps_denominator = h.fpsDenominator ? h.fpsDenominator : 1001;
  vi.pixel_type = h.chroma == Chroma::Yuv422 ? CS_YUY2 : CS_YV12;
  // A pipe's length is unknown until its end; requests past the end clamp,
  // so the clip presents itself as long as anything may ask for.
  const int estimate = reader->EstimatedFrameCount();
  vi.num_frames = estimate >= 0 ? estimate : INT_MAX;
}

PVideoFrame StreamClip::Find(int n) const {
  for (const Kept& k : kept)
    if (k.index == n) return k.frame;
  return PVideoFrame();
}

StoredFrame StreamClip::StoredBytes(const PVideoFrame& frame) const {
  for (const Kept& k : kept)
    if (k.frame && k.frame.get() == frame.get()) return k.stored;
  return StoredFrame();
}

PVideoFrame StreamClip::Load(int n, IScriptEnvironment* env) {
  PVideoFrame frame = env->NewVideoFrame(vi);
  StoredFrame stored;
  if (!reader->ReadFrame(n, frame->GetWritePtr(), frame->GetPitch(), &stored)) return PVideoFrame();
  kept[nextSlot] = Kept{n, frame, std::move(stored)};
  nextSlot = (nextSlot + 1) % kept.size();
  return frame;
}

PVideoFrame StreamClip::Blank(IScriptEnvironment* env) {
  PVideoFrame frame = env->NewVideoFrame(vi);
  for (int row = 0; row < vi.height; ++row)
    std::memset(frame->GetWritePtr() + row * frame->GetPitch(), 0, vi.RowSize());
  return frame;
}

PVideoFrame AVSC_CC StreamClip::GetFrame(int n, IScriptEnvironment* env) {
  if (Failed()) return Blank(env);
  if (n < 0) n = 0;
  highestRequest = std::max(highestRequest, n);
  try {
    const int count = reader->KnownFrameCount();
    if (count == 0) throw CliError("the input holds no frames");
    if (count > 0 && n >= count) {
      n = count - 1;
      clamped = true;
    }
    if (PVideoFrame frame = Find(n)) return frame;
    if (!reader->Seekable() && n < reader->NextFrame())
      throw CliError("input frame " + std::to_string(n) + " was asked for after frame " +
                     std::to_string(reader->NextFrame() - 1) + " and is no longer buffered; a pipe cannot go back");
    // A pipe is read forward frame by frame, each one kept: whichever turns
    // out to be the last must still be at hand when a request clamps to it.
    while (reader->Seekable() || reader->NextFrame() <= n) {
      const int next = reader->Seekable() ? n : reader->NextFrame();
      PVideoFrame frame = Load(next, env);
      if (!frame) break;  // the end came first
      if (next == n) return frame;
    }
    const int total = reader->KnownFrameCount();
    if (total <= 0) throw CliError("the input holds no frames");
    clamped = true;
    if (PVideoFrame frame = Find(total - 1)) return frame;
    if (PVideoFrame frame = Load(total - 1, env)) return frame;
    throw CliError("input frame " + std::to_string(total - 1) + " could not be read again");
  } catch (const CliError& e) {
    error = e.what();
  } catch (const std::exception& e) {
    error = std::string("reading the input failed: ") + e.what();
  }
  return Blank(env);
}

bool AVSC_CC StreamClip::GetParity(int) { return reader->Header().interlace == 't'; }

void AVSC_CC StreamClip::GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) {}

}  // namespace cli
