// Renders fixed pseudo-random clips through a filter module and writes every
// output byte to a file. Built natively and for Windows: the two files must be
// identical, which pins the Windows build's frames (every code at even and odd
// positions, odd sizes, padded rows) to the native build's.
//
//   render_dump MODULE OUTPUT
//
// The plan files are written beside OUTPUT. The worker count is the module's
// own (the test-hooks module takes ZEMIVTC_TEST_PROCESSORS).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace {

// xorshift32: the same sequence on every compiler and library.
struct Xorshift {
  uint32_t state;
  uint8_t NextByte() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 24);
  }
};

struct Case {
  int width, height, frames, sourcePadding, newFramePadding;
  const char* plan;
};

// Every code at even and at odd positions, runs of each, a closing non-code,
// and requests that reach past the clip's last frame.
const char* const EveryCode = "1212343456561111222233334444555566660";
// Codes after non-codes and bytes outside '0'..'6', which make no frame.
const char* const Mixed =
    "0a1\n2x3 4\xff"
    "56\r\n0000616";

const Case Cases[] = {
    {16, 8, 12, 0, 0, EveryCode},      {18, 7, 12, 0, 0, EveryCode},    {2, 5, 12, 0, 0, EveryCode},
    {3, 2, 12, 0, 0, EveryCode},       {38, 27, 10, 40, 36, EveryCode}, {720, 480, 12, 0, 0, EveryCode},
    {34, 481, 12, 64, 100, EveryCode}, {22, 9, 9, 0, 0, Mixed},
};

host::MemoryClip* MakeClip(const Case& c, uint32_t seed) {
  VideoInfo vi{};
  vi.width = c.width;
  vi.height = c.height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = c.frames;
  vi.pixel_type = CS_YUY2;
  Xorshift rng{seed};
  std::vector<PVideoFrame> frames;
  for (int f = 0; f < c.frames; ++f) {
    PVideoFrame frame = host::MakeFrame(vi, 2 * c.width + c.sourcePadding);
    for (int y = 0; y < c.height; ++y) {
      uint8_t* row = frame->GetWritePtr() + static_cast<size_t>(y) * frame->GetPitch();
      for (int x = 0; x < frame->GetPitch(); ++x) row[x] = x < 2 * c.width ? rng.NextByte() : 0xEE;
    }
    frames.push_back(frame);
  }
  return new host::MemoryClip(vi, frames);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// One case: a text line with the clip properties, then each frame's visible
// bytes, row after row.
void RenderCase(const char* modulePath, const Case& c, uint32_t seed, const std::string& planPath, std::string& out) {
  host::ScriptEnvironment env;
  env.LoadPlugin(modulePath);
  env.SetExtraPitch(c.newFramePadding);
  PClip clip(MakeClip(c, seed));
  AVSValue args[2] = {AVSValue(clip.get()), AVSValue(planPath.c_str())};
  const char* names[2] = {nullptr, "zemFile"};
  PClip filter = env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
  const VideoInfo& vi = filter->GetVideoInfo();
  char line[160];
  std::snprintf(line, sizeof line, "%dx%d frames %d rate %u/%u type %d\n", vi.width, vi.height, vi.num_frames,
                vi.fps_numerator, vi.fps_denominator, vi.pixel_type);
  out += line;
  for (int n = 0; n < vi.num_frames; ++n) {
    PVideoFrame frame = filter->GetFrame(n, &env);
    for (int y = 0; y < frame->GetHeight(); ++y) {
      const uint8_t* row = frame->GetReadPtr() + static_cast<size_t>(y) * frame->GetPitch();
      out.append(reinterpret_cast<const char*>(row), static_cast<size_t>(frame->GetRowSize()));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: render_dump MODULE OUTPUT\n");
    return 2;
  }
  const std::string output = argv[2];
  const std::string planPath = output + ".plan";
  std::string bytes;
  try {
    uint32_t seed = 2463534242u;
    for (const Case& c : Cases) {
      if (!WriteFile(planPath, c.plan)) {
        std::fprintf(stderr, "render_dump: cannot write %s\n", planPath.c_str());
        return 1;
      }
      RenderCase(argv[1], c, seed++, planPath, bytes);
    }
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "render_dump: %s\n", e.msg);
    std::remove(planPath.c_str());
    return 1;
  }
  std::remove(planPath.c_str());
  if (!WriteFile(output, bytes)) {
    std::fprintf(stderr, "render_dump: cannot write %s\n", output.c_str());
    return 1;
  }
  std::printf("render_dump: %lu bytes\n", static_cast<unsigned long>(bytes.size()));
  return 0;
}
