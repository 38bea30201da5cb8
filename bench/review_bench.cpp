// The cost of `zemivtc plan --review DIR --timeline PNG` against the
// analysis it adds to, in one run:
//   - the analysis of one 1080p frame pair (field measures on all cores, as
//     the command runs them), which a two-hour 29.97i clip does 215,784 times;
//   - one review place: the thumbnails of its candidates and their PNG files;
//   - the cadence search of a two-hour clip (431,567 positions), margins
//     included, and its timeline picture.
// bench/README.md ("Plan review") turns these into the growth of a two-hour
// analysis.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analysis/cadence.h"
#include "analysis/field_measures.h"
#include "review/thumbnails.h"
#include "review/timeline.h"
#include "stream/png.h"
#include "stream/row_bands.h"

namespace {

constexpr int Width = 1920, Height = 1080;
constexpr int TwoHourFrames = 2 * 60 * 60 * 30000 / 1001;

// A 1080p YUY2 frame: a moving gradient with noise, so that thumbnails and
// their PNG files cost what pictures cost.
std::vector<uint8_t> Frame(int n) {
  std::mt19937 rng(n);
  std::vector<uint8_t> f(static_cast<size_t>(2 * Width) * Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < 2 * Width; ++x)
      f[static_cast<size_t>(y) * 2 * Width + x] = static_cast<uint8_t>((x % 2 ? 128 : x / 2 + y + 7 * n) + rng() % 16);
  return f;
}

void BM_AnalyseFrame1080(benchmark::State& state) {
  std::vector<uint8_t> luma[2];
  for (int i = 0; i < 2; ++i) {
    const std::vector<uint8_t> f = Frame(i);
    for (size_t p = 0; p < f.size(); p += 2) luma[i].push_back(f[p]);
  }
  stream::RowBands bands;
  analysis::FieldAnalyzer analyzer(
      Width, Height, [&](int count, const std::function<void(int, int)>& work) { bands.Run(count, 4, work); });
  int n = 0;
  for (auto _ : state) analyzer.AddFrame(luma[n++ % 2].data(), Width);
  state.counters["png_bytes"] = 0;  // every benchmark has the counter, for the CSV report
}
BENCHMARK(BM_AnalyseFrame1080)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReviewPlace1080(benchmark::State& state) {
  std::vector<uint8_t> frames[3] = {Frame(0), Frame(1), Frame(2)};
  auto packed = [&](int i) { return cli::PackedFrame{frames[i].data(), 2 * Width, Width, Height}; };
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (int q = 0; q < 3; ++q) {
      const cli::RgbPicture t = cli::Thumbnail(packed((q + 1) / 2), packed(q / 2), cli::FieldChoice::Both);
      bytes += stream::EncodePng(t.width, t.height, t.rgb).size();
    }
    for (cli::FieldChoice c : {cli::FieldChoice::Top, cli::FieldChoice::Bottom}) {
      const cli::RgbPicture t = cli::Thumbnail(packed(1), packed(0), c);
      bytes += stream::EncodePng(t.width, t.height, t.rgb).size();
    }
    const cli::RgbPicture c = cli::CloseUp(packed(1), packed(0));
    bytes += stream::EncodePng(c.width, c.height, c.rgb).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReviewPlace1080)->Unit(benchmark::kMillisecond);

// Measures of 3:2 film with noise, a scene change every 9,000 positions:
// each field pairs with the neighbour of its film frame, the middle field of
// three has alike neighbours (a repeat).
std::vector<analysis::PositionMeasures> TwoHourMeasures() {
  std::mt19937 rng(7);
  std::vector<analysis::PositionMeasures> m(2 * TwoHourFrames - 1);
  auto boundary = [](size_t p) { return "01001"[(p + p / 9000) % 5] == '1'; };
  for (size_t p = 0; p < m.size(); ++p) {
    m[p].motion = m[p].motionBefore = m[p].motionAfter = 100000 + rng() % 20000;
    m[p].comb = boundary(p) ? 90000 + rng() % 20000 : rng() % 9000;
    m[p].repeat = (p + p / 9000) % 5 == 2 ? rng() % 500 : 90000 + rng() % 20000;
    m[p].repeatNoise = 1000;
    m[p].blocks = m[p].movingBlocks = 510;
    if (p == 0 || boundary(p - 1) == boundary(p)) continue;
    m[p].pairingMotion = 100000 + rng() % 20000;
    m[p].pairing = (boundary(p) ? 6 : -6) * m[p].pairingMotion;
  }
  return m;
}
// Luma sums of four pixels in one field of a 1080p frame.
constexpr double FieldSamples = Width / 4 * (Height / 2);

void BM_ProposePlanTwoHours(benchmark::State& state) {
  const std::vector<analysis::PositionMeasures> measures = TwoHourMeasures();
  for (auto _ : state) benchmark::DoNotOptimize(analysis::ProposePlan(measures, FieldSamples));
  state.counters["png_bytes"] = 0;
}
BENCHMARK(BM_ProposePlanTwoHours)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TimelineTwoHours(benchmark::State& state) {
  const analysis::Proposal proposal = analysis::ProposePlan(TwoHourMeasures(), FieldSamples);
  size_t bytes = 0;
  std::string png;
  for (auto _ : state) png = cli::TimelinePng(proposal);
  bytes = png.size();
  // The picture itself, for people to look at (docs/images/).
  if (const char* out = std::getenv("ZEMIVTC_TIMELINE_OUT")) std::ofstream(out, std::ios::binary) << png;
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TimelineTwoHours)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
