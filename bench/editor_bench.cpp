// The editor's pictures of one position, all seven the page shows (the
// position and its two neighbours, the two fields rebuilt, the close-up and
// the output frame made by the filter's core, each a PNG), stepping one
// position per iteration as a held key does: the frames come from a Y4M file
// in the page cache, a few of them new at each step. Targets: under 30 ms at
// 720x480 and under 100 ms at 1920x1080 on the 2-core development machine.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "review/editor_session.h"

namespace {

// A 4:2:0 clip of `frames` frames: a gradient with pinned noise and an edge
// that moves a few pixels a frame, its two fields a moment apart.
std::string MakeClip(int width, int height, int frames) {
  const std::string path = "/tmp/bench_editor_" + std::to_string(width) + "x" + std::to_string(height) + "_" +
                           std::to_string(getpid()) + ".y4m";
  std::ofstream out(path, std::ios::binary);
  out << "YUV4MPEG2 W" << width << " H" << height << " F30000:1001 It C420mpeg2\n";
  uint32_t seed = 12345;
  std::string frame(static_cast<size_t>(width) * height * 3 / 2, '\x80');
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int edge = 8 * (2 * f + y % 2);
        frame[static_cast<size_t>(y) * width + x] =
            static_cast<char>((x + edge) % width < width / 2 ? 40 + x * 100 / width + (seed >> 29) : 200);
      }
    out << "FRAME\n" << frame;
  }
  return path;
}

constexpr review::PictureKind Kinds[] = {review::PictureKind::Previous,    review::PictureKind::Here,
                                         review::PictureKind::Next,        review::PictureKind::TopField,
                                         review::PictureKind::BottomField, review::PictureKind::CloseUp,
                                         review::PictureKind::Output};

// range(2): one kind of picture alone (its index in Kinds), or all (-1).
void BM_PositionPictures(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const int only = static_cast<int>(state.range(2));
  const std::string clip = MakeClip(width, height, 24);
  const std::string keep = clip + ".keep";
  {
    auto source = review::OpenStreamSource(clip, {});
    review::SourceAnalysis analysis = review::AnalyzeSource(*source, 0, nullptr);
    review::EditorSession session(std::move(source), std::move(analysis), review::DefaultEditorFiles(clip, keep, ""));
    const std::string codes = session.Codes();
    int p = 0;
    size_t bytes = 0;
    for (auto _ : state) {
      p = (p + 1) % session.Positions();
      const char code = codes[p] == '0' ? '1' : codes[p];
      for (int k = 0; k < 7; ++k)
        if (only < 0 || only == k) bytes += session.Picture(Kinds[k], p, code).size();
    }
    state.counters["png_bytes_per_position"] = static_cast<double>(bytes) / state.iterations();
  }
  std::remove(clip.c_str());
}
BENCHMARK(BM_PositionPictures)
    ->Args({720, 480, -1})
    ->Args({1920, 1080, -1})
    ->ArgsProduct({{1920}, {1080}, {0, 3, 5, 6}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
