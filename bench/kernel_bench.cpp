// Throughput of each vertical filter kernel on whole YUY2 frames, single
// thread, beside memcpy of the same output bytes. Source and destination
// frames rotate through sets far larger than the last-level cache, so every
// call reads and writes memory, not cache.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "vfilter/vertical_filter.h"

namespace {

constexpr size_t kRotationBytes = size_t{128} << 20;  // several times any L3 here

struct Geometry {
  int32_t width, height;
  std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
  size_t FrameBytes() const { return static_cast<size_t>(2) * width * height; }
};

// A ring of whole frames, written once so that every page is mapped.
class FrameRing {
 public:
  FrameRing(size_t frameBytes, uint32_t seed)
      : frameBytes_(frameBytes), count_(std::max<size_t>(3, (kRotationBytes + frameBytes - 1) / frameBytes)) {
    bytes_.resize(frameBytes_ * count_);
    std::mt19937 random(seed);
    for (size_t i = 0; i < bytes_.size(); i += 4) {
      const uint32_t v = random();
      std::memcpy(&bytes_[i], &v, std::min<size_t>(4, bytes_.size() - i));
    }
  }
  uint8_t* Frame(size_t i) { return bytes_.data() + (i % count_) * frameBytes_; }
  size_t Count() const { return count_; }

 private:
  size_t frameBytes_, count_;
  std::vector<uint8_t> bytes_;
};

enum class Pass { TopField, Smooth };

void KernelOnFrames(benchmark::State& state, VerticalFilterFn kernel, Geometry geometry, Pass pass) {
  VerticalFilterTable table{};
  if (pass == Pass::TopField) {
    BuildLanczosTable(geometry.height >> 1, geometry.height, table, 4 * geometry.width, -0.4);
  } else {
    BuildSmoothTable(geometry.height, table, 2 * geometry.width);
  }
  FrameRing source(geometry.FrameBytes(), 1), output(geometry.FrameBytes(), 2);
  size_t i = 0;
  for (auto _ : state) {
    kernel(source.Frame(i), output.Frame(i), geometry.width, table.rows, table.taps, table.offsets, table.coeffs,
           2 * geometry.width);
    benchmark::ClobberMemory();
    ++i;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * geometry.FrameBytes());
  state.counters["frames"] = static_cast<double>(source.Count());
  FreeTable(table);
}

void MemcpyFrames(benchmark::State& state, Geometry geometry) {
  FrameRing source(geometry.FrameBytes(), 1), output(geometry.FrameBytes(), 2);
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(output.Frame(i), source.Frame(i), geometry.FrameBytes());
    benchmark::ClobberMemory();
    ++i;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * geometry.FrameBytes());
  state.counters["frames"] = static_cast<double>(source.Count());
}

std::string CpuName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::AddCustomContext("cpu_name", CpuName());
  benchmark::AddCustomContext("selected_kernel", KernelName(SelectedKernelIsa()));
  for (const Geometry geometry : {Geometry{720, 480}, Geometry{1920, 1080}}) {
    benchmark::RegisterBenchmark(("memcpy/" + geometry.Name()).c_str(), MemcpyFrames, geometry)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    for (const KernelIsa isa : {KernelIsa::Avx2, KernelIsa::Sse2, KernelIsa::Scalar}) {
      const VerticalFilterFn kernel = KernelFor(isa);
      if (kernel == nullptr) continue;
      for (const Pass pass : {Pass::TopField, Pass::Smooth}) {
        const std::string name = std::string("kernel/") + KernelName(isa) +
                                 (pass == Pass::TopField ? "/top6/" : "/smooth3/") + geometry.Name();
        benchmark::RegisterBenchmark(name.c_str(), KernelOnFrames, kernel, geometry, pass)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
      }
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
