// GetFrame of the real module, driven through the host as a script would,
// beside a memcpy of the same frame bytes. Source frames are already in
// memory; eight of them rotate (and eight destinations for memcpy) so neither
// side works from a cache-hot frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace {

const int Rotation = 8;

struct Geometry {
  int width, height;
};
const Geometry Sizes[] = {{720, 480}, {1920, 1080}};

// One filter over a clip of Rotation + 1 frames whose plan gives code `code`
// at even or odd positions, one output frame per source frame.
class Rig {
 public:
  Rig(Geometry g, char code, bool odd) {
    env.LoadPlugin(ZEMIVTC_MODULE_PATH);
    env.SetPoisonNewFrames(false);  // as a host's frame cache would hand them out
    VideoInfo vi{};
    vi.width = g.width;
    vi.height = g.height;
    vi.fps_numerator = 30000;
    vi.fps_denominator = 1001;
    vi.num_frames = Rotation + 1;
    vi.pixel_type = CS_YUY2;
    std::vector<PVideoFrame> frames;
    for (int f = 0; f < vi.num_frames; ++f) {
      PVideoFrame frame = env.NewVideoFrame(vi);
      for (int y = 0; y < g.height; ++y)
        std::memset(frame->GetWritePtr() + static_cast<size_t>(y) * frame->GetPitch(), (f * 31 + y) & 0xFF,
                    2 * g.width);
      frames.push_back(frame);
    }
    source = PClip(new host::MemoryClip(vi, frames));
    std::string text;
    for (int i = 0; i < Rotation; ++i) text += odd ? std::string("0") + code : std::string(1, code) + "0";
    planPath = "/tmp/zemivtc_bench_plan_" + std::to_string(g.width) + code + (odd ? "o" : "e");
    FILE* f = std::fopen(planPath.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    AVSValue args[2] = {AVSValue(source), AVSValue(planPath.c_str())};
    const char* names[2] = {nullptr, "zemFile"};
    filter = env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
  }
  ~Rig() {
    filter = PClip();
    source = PClip();
    std::remove(planPath.c_str());
  }
  host::ScriptEnvironment env;
  PClip source, filter;
  std::string planPath;
};

void BM_GetFrame(benchmark::State& state, char code, bool odd) {
  const Geometry g = Sizes[state.range(0)];
  Rig rig(g, code, odd);
  int n = 0;
  for (auto _ : state) {
    PVideoFrame frame = rig.filter->GetFrame(n++ % Rotation, &rig.env);
    benchmark::DoNotOptimize(frame->GetReadPtr());
  }
  state.SetItemsProcessed(state.iterations());  // frames: items/s is fps
  state.SetBytesProcessed(state.iterations() * 2LL * g.width * g.height);
  state.SetLabel(std::to_string(g.width) + "x" + std::to_string(g.height));
}

void BM_MemcpyFrame(benchmark::State& state) {
  const Geometry g = Sizes[state.range(0)];
  const size_t bytes = static_cast<size_t>(2) * g.width * g.height;
  std::vector<std::vector<uint8_t>> from(Rotation, std::vector<uint8_t>(bytes, 1)),
      to(Rotation, std::vector<uint8_t>(bytes, 2));
  int n = 0;
  for (auto _ : state) {
    std::memcpy(to[n % Rotation].data(), from[n % Rotation].data(), bytes);
    benchmark::DoNotOptimize(to[n % Rotation].data());
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  state.SetLabel(std::to_string(g.width) + "x" + std::to_string(g.height));
}

BENCHMARK(BM_MemcpyFrame)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code1_even, '1', false)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code1_odd_weave, '1', true)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code2_odd_weave_rebuild, '2', true)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code3_even_smooth, '3', false)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code4_even_bottom, '4', false)->DenseRange(0, 1)->UseRealTime();
BENCHMARK_CAPTURE(BM_GetFrame, code5_even_top, '5', false)->DenseRange(0, 1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
