// Shared set-up for tests that drive the real module through the host.
#ifndef ZEMIVTC_TESTS_MODULE_FIXTURE_H
#define ZEMIVTC_TESTS_MODULE_FIXTURE_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace testing_support {

inline VideoInfo Yuy2Info(int width, int height, int frames) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = frames;
  vi.pixel_type = CS_YUY2;
  vi.audio_samples_per_second = 48000;
  vi.sample_type = 2;
  vi.num_audio_samples = 48000;
  vi.nchannels = 2;
  return vi;
}

// A clip of random frames; each frame's pitch is 2 * width + extraPitch, its
// row 0 lies `offset` bytes into its buffer, and the padding holds a fixed
// pattern.
inline host::MemoryClip* RandomClip(int width, int height, int frames, uint32_t seed, int extraPitch = 0,
                                    VideoInfo* info = nullptr, int offset = host::DefaultFrameOffset) {
  VideoInfo vi = Yuy2Info(width, height, frames);
  std::mt19937 rng(seed);
  std::vector<PVideoFrame> list;
  for (int f = 0; f < frames; ++f) {
    PVideoFrame frame = host::MakeFrame(vi, 2 * width + extraPitch, true, offset);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = frame->GetWritePtr() + static_cast<size_t>(y) * frame->GetPitch();
      for (int x = 0; x < 2 * width; ++x) row[x] = static_cast<uint8_t>(rng());
      for (int x = 2 * width; x < frame->GetPitch(); ++x) row[x] = 0xEE;
    }
    list.push_back(frame);
  }
  if (info) *info = vi;
  return new host::MemoryClip(vi, list);
}

// The visible bytes of a frame, row after row, without its padding.
inline std::vector<uint8_t> Pixels(const PVideoFrame& frame, int width, int height) {
  std::vector<uint8_t> out(static_cast<size_t>(2) * width * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = frame->GetReadPtr() + static_cast<size_t>(y) * frame->GetPitch();
    std::copy(row, row + 2 * width, out.begin() + static_cast<size_t>(y) * 2 * width);
  }
  return out;
}

// A plan file in the test's temporary directory.
class PlanFile {
 public:
  explicit PlanFile(const std::string& bytes, const std::string& name = "plan") {
    const char* dir = std::getenv("TMPDIR");
    // The process id keeps test processes that ctest runs side by side from
    // sharing (and removing) each other's files.
    path = std::string(dir ? dir : "/tmp") + "/zemivtc_test_" + name + "_" + std::to_string(getpid()) + "_" +
           std::to_string(Counter()++) + "_" +
           std::to_string(static_cast<long>(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~PlanFile() { std::remove(path.c_str()); }
  std::string path;

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
};

// ZEMIVTC(clip, zemFile=path) through the host; a null path leaves it out.
inline AVSValue InvokeZemIvtc(host::ScriptEnvironment& env, IClip* clip, const char* path) {
  AVSValue args[2] = {AVSValue(clip), AVSValue(path)};
  const char* names[2] = {nullptr, "zemFile"};
  return env.Invoke("ZEMIVTC", AVSValue(args, path ? 2 : 1), names);
}

// The message ZEMIVTC(clip, zemFile=path) fails with; empty if it succeeds.
inline std::string CreationError(host::ScriptEnvironment& env, IClip* clip, const char* path) {
  try {
    AVSValue result = InvokeZemIvtc(env, clip, path);
    return "";
  } catch (const AvisynthError& e) {
    return e.msg;
  }
}

}  // namespace testing_support

#endif
