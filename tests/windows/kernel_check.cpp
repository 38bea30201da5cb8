// The kernels of the 32-bit build: the run-time choice takes a vector kernel
// where the processor has SSE2, and every kernel the processor has writes the
// scalar kernel's bytes, and no byte outside its rows.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vfilter/vertical_filter.h"

namespace {

int failures = 0;

struct Xorshift {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

constexpr int Guard = 32;
constexpr uint8_t GuardByte = 0xA5;

// Runs one kernel over a table and returns the destination with its guards.
std::vector<uint8_t> Run(VerticalFilterFn kernel, const std::vector<uint8_t>& source, int width,
                         const VerticalFilterTable& table, int dstStride) {
  std::vector<uint8_t> dst(Guard + static_cast<size_t>(dstStride) * table.rows + Guard, GuardByte);
  kernel(source.data(), dst.data() + Guard, width, table.rows, table.taps, table.offsets, table.coeffs, dstStride);
  return dst;
}

void Compare(const char* what, int width, int height, uint32_t seed, const VerticalFilterTable& table,
             const std::vector<uint8_t>& source, int dstStride) {
  const std::vector<uint8_t> reference = Run(KernelFor(KernelIsa::Scalar), source, width, table, dstStride);
  for (int g = 0; g < Guard; ++g) {
    if (reference[g] != GuardByte || reference[reference.size() - 1 - g] != GuardByte) {
      std::fprintf(stderr, "FAILED scalar %s %dx%d seed %u: wrote outside its rows\n", what, width, height, seed);
      ++failures;
      break;
    }
  }
  for (KernelIsa isa : {KernelIsa::Sse2, KernelIsa::Avx2}) {
    VerticalFilterFn kernel = KernelFor(isa);
    if (kernel == nullptr) continue;
    if (Run(kernel, source, width, table, dstStride) != reference) {
      std::fprintf(stderr, "FAILED %s %s %dx%d seed %u: differs from scalar\n", KernelName(isa), what, width, height,
                   seed);
      ++failures;
    }
  }
}

}  // namespace

int main() {
  const KernelIsa selected = SelectedKernelIsa();
  std::printf("kernel_check: selected kernel %s; available:", KernelName(selected));
  for (KernelIsa isa : {KernelIsa::Scalar, KernelIsa::Sse2, KernelIsa::Avx2}) {
    if (KernelFor(isa) != nullptr) std::printf(" %s", KernelName(isa));
  }
  std::printf("\n");
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2") && (selected == KernelIsa::Scalar || KernelFor(KernelIsa::Sse2) == nullptr)) {
    std::fprintf(stderr, "FAILED: the processor has SSE2 but the build chose the scalar kernel\n");
    ++failures;
  }

  const int sizes[][2] = {{1, 2}, {2, 5}, {3, 7}, {7, 9}, {8, 16}, {15, 31}, {16, 8}, {17, 33}, {360, 240}, {721, 481}};
  uint32_t seed = 12345;
  for (const auto& size : sizes) {
    const int width = size[0], height = size[1];
    const int stride = 2 * width;
    Xorshift rng{seed};
    std::vector<uint8_t> source(static_cast<size_t>(stride) * height);
    for (uint8_t& b : source) b = static_cast<uint8_t>(rng.Next() >> 24);
    // Extreme pictures too: saturation in both directions.
    if (seed % 3 == 0) {
      for (size_t i = 0; i < source.size(); ++i) source[i] = (i / stride) % 2 ? 255 : 0;
    }
    VerticalFilterTable table{};
    BuildSmoothTable(height, table, stride);
    Compare("smooth", width, height, seed, table, source, stride);
    FreeTable(table);
    for (double shift : {0.4, -0.4}) {
      BuildLanczosTable(height / 2 > 0 ? height / 2 : 1, height, table, 2 * stride, shift);
      Compare(shift > 0 ? "lanczos+" : "lanczos-", width, height, seed, table, source, stride);
      FreeTable(table);
    }
    ++seed;
  }
  std::printf("kernel_check: %d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
