// The command's conversions between planar Y4M frames and the filter's YUY2
// rows, one 1920x1080 frame per call on one thread, in every layout: 4:2:2
// and 4:2:0, upright and turned over (bottom field first). Frames rotate
// through sets far larger than the last-level cache, so every call reads and
// writes memory, as in a render.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "stream/y4m.h"

namespace {

constexpr int Width = 1920, Height = 1080;
constexpr size_t RotationBytes = size_t{128} << 20;

// A ring of frames of `bytes` each, every page written once.
struct Ring {
  explicit Ring(size_t bytes) : frameBytes(bytes), count(RotationBytes / bytes + 1), data(frameBytes * count, 0x5A) {}
  uint8_t* Frame(size_t i) { return data.data() + (i % count) * frameBytes; }
  size_t frameBytes, count;
  std::vector<uint8_t> data;
};

// Arguments: 4:2:0 (1) or 4:2:2 (0), turned over (1) or upright (0).
stream::PackedLayout Layout(const benchmark::State& state) {
  return {state.range(0) ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422, state.range(1) != 0};
}

// One direction of the conversion, frame after frame.
template <bool ToPacked>
void Convert(benchmark::State& state) {
  const stream::PackedLayout layout = Layout(state);
  const size_t planarBytes = stream::PlanarFrameBytes(Width, Height, layout.chroma);
  Ring planar(planarBytes), packed(size_t{2} * Width * Height);
  size_t i = 0;
  for (auto _ : state) {
    if (ToPacked)
      stream::PlanarToPacked(planar.Frame(i), Width, Height, packed.Frame(i + 7), 2 * Width, layout);
    else
      stream::PackedToPlanar(packed.Frame(i), 2 * Width, Width, Height, planar.Frame(i + 7), layout);
    ++i;
  }
  state.SetLabel(std::string(stream::ChromaName(layout.chroma)) + (layout.mirrored ? " turned over" : " upright"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(planarBytes + size_t{2} * Width * Height));
}

BENCHMARK(Convert<true>)
    ->Name("PlanarToPacked")
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5);
BENCHMARK(Convert<false>)
    ->Name("PackedToPlanar")
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
