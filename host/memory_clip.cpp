// A source clip held in memory, for tests and tools: it answers from the
// frames, parities and audio it was given and records what it was asked.
#include <cstring>

#include "host/runtime.h"

namespace host {

MemoryClip::MemoryClip(const VideoInfo& vi, std::vector<PVideoFrame> frames) : vi(vi), frames(std::move(frames)) {}

PVideoFrame MemoryClip::GetFrame(int n, IScriptEnvironment* env) {
  requests.push_back(n);
  if (frames.empty()) {
    if (env != nullptr) env->ThrowError("MemoryClip: frame %d asked of a clip that has no frames", n);
    throw AvisynthError("MemoryClip: frame asked of a clip that has no frames");
  }
  int last = static_cast<int>(frames.size()) - 1;
  return frames[n < 0 ? 0 : n > last ? last : n];
}

bool MemoryClip::GetParity(int n) {
  parityRequests.push_back(n);
  return n >= 0 && static_cast<std::size_t>(n) < parity.size() && parity[n];
}

void MemoryClip::GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment*) {
  if (buf == nullptr || count <= 0 || bytesPerAudioSample <= 0) return;
  const int64_t sampleBytes = bytesPerAudioSample;
  const int64_t haveSamples = static_cast<int64_t>(audio.size()) / sampleBytes;
  if (count > INT64_MAX / sampleBytes) return;  // no buffer is that large
  unsigned char* out = static_cast<unsigned char*>(buf);
  // Samples before 0 and from haveSamples on are silence; the rest is copied.
  std::memset(out, 0, static_cast<std::size_t>(count * sampleBytes));
  if (start >= haveSamples || (start < 0 && start <= -count)) return;
  const int64_t from = start < 0 ? 0 : start;
  const int64_t end = start > INT64_MAX - count ? INT64_MAX : start + count;
  const int64_t to = end < haveSamples ? end : haveSamples;
  if (to > from) {
    std::memcpy(out + (from - start) * sampleBytes, audio.data() + from * sampleBytes,
                static_cast<std::size_t>((to - from) * sampleBytes));
  }
}

}  // namespace host
