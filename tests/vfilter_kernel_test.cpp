// Kernels against the fixed-point definition: worked bytes, saturation,
// flat areas, byte independence, bands, and every vector kernel against the
// scalar one on random input with guard bytes and a guard page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "vfilter/vertical_filter.h"

namespace {

CoefficientWord Word(int32_t weight) { return static_cast<uint16_t>(weight) * 0x0001000100010001ULL; }

// Source bytes that end exactly at an inaccessible page where the system
// allows it, so a read past the last byte faults instead of passing unseen.
class GuardedSource {
 public:
  explicit GuardedSource(size_t size) : size_(size) {
#if defined(__unix__)
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mappedSize_ = (size + page - 1) / page * page + page;
    void* p = mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    mapping_ = static_cast<uint8_t*>(p);
    mprotect(mapping_ + mappedSize_ - page, page, PROT_NONE);
    data_ = mapping_ + mappedSize_ - page - size;
#else
    fallback_.resize(size);
    data_ = fallback_.data();
#endif
  }
  ~GuardedSource() {
#if defined(__unix__)
    munmap(mapping_, mappedSize_);
#endif
  }
  GuardedSource(const GuardedSource&) = delete;
  GuardedSource& operator=(const GuardedSource&) = delete;
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  uint8_t* data_ = nullptr;
#if defined(__unix__)
  uint8_t* mapping_ = nullptr;
  size_t mappedSize_ = 0;
#else
  std::vector<uint8_t> fallback_;
#endif
};

// Kernel implementations under test; the ones this processor lacks skip.
class KernelTest : public ::testing::TestWithParam<KernelIsa> {
 protected:
  void SetUp() override {
    kernel_ = KernelFor(GetParam());
    if (kernel_ == nullptr) GTEST_SKIP() << KernelName(GetParam()) << " is not available on this processor";
  }
  // Runs the kernel over `rows` rows of 2 * width bytes written back to back.
  std::vector<uint8_t> Run(const uint8_t* src, int32_t width, int32_t rows, int32_t taps, const int32_t* offsets,
                           const CoefficientWord* coeffs) const {
    std::vector<uint8_t> dst(static_cast<size_t>(rows) * 2 * width, 0xCD);
    kernel_(src, dst.data(), width, rows, taps, offsets, coeffs, 2 * width);
    return dst;
  }
  // One output row from taps source rows whose bytes are all bytes[j].
  std::vector<uint8_t> RunFlat(const std::vector<uint8_t>& bytes, const std::vector<int32_t>& weights,
                               int32_t width) const {
    const int32_t taps = static_cast<int32_t>(bytes.size());
    std::vector<uint8_t> src;
    std::vector<int32_t> offsets;
    std::vector<CoefficientWord> coeffs;
    for (int32_t j = 0; j < taps; ++j) {
      offsets.push_back(static_cast<int32_t>(src.size()));
      src.insert(src.end(), 2 * width, bytes[j]);
      coeffs.push_back(Word(weights[j]));
    }
    return Run(src.data(), width, 1, taps, offsets.data(), coeffs.data());
  }
  VerticalFilterFn kernel_ = nullptr;
};

std::string IsaName(const ::testing::TestParamInfo<KernelIsa>& info) { return KernelName(info.param); }

INSTANTIATE_TEST_SUITE_P(AllIsas, KernelTest, ::testing::Values(KernelIsa::Scalar, KernelIsa::Sse2, KernelIsa::Avx2),
                         IsaName);

// Width 53 gives 106-byte rows: whole vector steps and a byte-wise tail.
constexpr int32_t kOddWidth = 53;

TEST_P(KernelTest, WorkedOutputBytes) {
  const std::vector<int32_t> lanczos = {454, -3234, 13279, 26082, -4831, 1015};  // a 480-row clip's odd rows
  EXPECT_EQ(RunFlat({100, 120, 140, 160, 180, 200}, lanczos, kOddWidth), std::vector<uint8_t>(106, 153));
  EXPECT_EQ(RunFlat({0, 255, 0, 0, 255, 0}, lanczos, kOddWidth), std::vector<uint8_t>(106, 0));
  EXPECT_EQ(RunFlat({255, 0, 255, 255, 0, 255}, lanczos, kOddWidth), std::vector<uint8_t>(106, 255));
  EXPECT_EQ(RunFlat({10, 200, 30}, {8192, 16383, 8192}, kOddWidth), std::vector<uint8_t>(106, 109));

  // The three Lanczos cases side by side in 8-byte groups of one row.
  const uint8_t cases[3][6] = {{100, 120, 140, 160, 180, 200}, {0, 255, 0, 0, 255, 0}, {255, 0, 255, 255, 0, 255}};
  const uint8_t expected[3] = {153, 0, 255};
  std::vector<uint8_t> src(6 * 106);
  std::vector<int32_t> offsets;
  std::vector<CoefficientWord> coeffs;
  for (int32_t j = 0; j < 6; ++j) {
    for (int32_t x = 0; x < 106; ++x) src[j * 106 + x] = cases[(x / 8) % 3][j];
    offsets.push_back(j * 106);
    coeffs.push_back(Word(lanczos[j]));
  }
  const std::vector<uint8_t> out = Run(src.data(), kOddWidth, 1, 6, offsets.data(), coeffs.data());
  for (int32_t x = 0; x < 106; ++x) ASSERT_EQ(out[x], expected[(x / 8) % 3]) << "byte " << x;
}

TEST_P(KernelTest, SaturationAndRoundingDown) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::vector<int32_t> weights;
    uint8_t out;
  };
  const Case cases[] = {
      // The accumulator stops at 32767 after the third tap: 32767 - 2 x 16320.
      {{255, 255, 255, 255, 255}, {32767, 32767, 32767, -32768, -32768}, 1},
      // ... and at -32768 after the second: -32768 + 3 x 16319 = 16189.
      {{255, 255, 255, 255, 255, 255}, {-32768, -32768, -32768, 32767, 32767, 32767}, 252},
      // A negative product rounds down: 64 + floor(-1 / 512) = 63.
      {{2, 1}, {16384, -1}, 0},
      {{2}, {16384}, 1},                  // sum 64
      {{1}, {32256}, 0},                  // sum 63
      {{255}, {32767}, 254},              // sum 16319
      {{255, 1}, {32767, 512}, 255},      // sum 16320
      {{255, 255}, {32767, 32767}, 255},  // sum 32638, beyond a byte
      {{0, 200}, {32767, -32768}, 0},     // negative sum
  };
  for (const Case& c : cases) {
    for (int32_t width : {1, 3, 4, kOddWidth}) {
      EXPECT_EQ(RunFlat(c.bytes, c.weights, width), std::vector<uint8_t>(2 * width, c.out))
          << "width " << width << ", first weight " << c.weights[0] << ", taps " << c.bytes.size();
    }
  }
}

// Column x holds the value x in every row of a 128 x 480 frame: each of the
// 256 byte columns is a flat area of its own value.
TEST_P(KernelTest, FlatAreaLosesOneLevelThroughEveryTable) {
  const int32_t width = 128, height = 480, rowBytes = 2 * width;
  std::vector<uint8_t> frame(static_cast<size_t>(height) * rowBytes);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < rowBytes; ++x) frame[y * rowBytes + x] = static_cast<uint8_t>(x);

  VerticalFilterTable top{}, bottom{}, smooth{};
  BuildLanczosTable(height >> 1, height, top, 4 * width, -0.4);
  BuildLanczosTable(height >> 1, height, bottom, 4 * width, +0.4);
  BuildSmoothTable(height, smooth, 2 * width);
  struct Pass {
    const char* name;
    const VerticalFilterTable* table;
    const uint8_t* base;
  };
  for (const Pass& pass : {Pass{"top", &top, frame.data()}, Pass{"bottom", &bottom, frame.data() + rowBytes},
                           Pass{"smooth", &smooth, frame.data()}}) {
    const std::vector<uint8_t> out =
        Run(pass.base, width, pass.table->rows, pass.table->taps, pass.table->offsets, pass.table->coeffs);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < rowBytes; ++x)
        ASSERT_EQ(out[y * rowBytes + x], x == 0 ? 0 : x - 1) << pass.name << " row " << y << " byte " << x;
  }

  // Smoothing never brightens anything to 255.
  std::mt19937 random(7);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(random() % 3 == 0 ? 255 : random());
  const std::vector<uint8_t> out = Run(frame.data(), width, height, 3, smooth.offsets, smooth.coeffs);
  EXPECT_LE(*std::max_element(out.begin(), out.end()), 254);
  FreeTable(top);
  FreeTable(bottom);
  FreeTable(smooth);
}

TEST_P(KernelTest, BytePositionsAreIndependent) {
  const int32_t width = 45, height = 40, rowBytes = 2 * width;
  VerticalFilterTable top{};
  BuildLanczosTable(height >> 1, height, top, 4 * width, -0.4);
  std::mt19937 random(11);
  std::vector<uint8_t> frame(static_cast<size_t>(height) * rowBytes);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
  const std::vector<uint8_t> before = Run(frame.data(), width, height, 6, top.offsets, top.coeffs);
  // Swap a byte of the first vector step with one of the byte-wise tail.
  const int32_t a = 5, b = rowBytes - 1;
  for (int32_t y = 0; y < height; ++y) std::swap(frame[y * rowBytes + a], frame[y * rowBytes + b]);
  std::vector<uint8_t> after = Run(frame.data(), width, height, 6, top.offsets, top.coeffs);
  for (int32_t y = 0; y < height; ++y) std::swap(after[y * rowBytes + a], after[y * rowBytes + b]);
  EXPECT_EQ(after, before);
  FreeTable(top);
}

// Bands of a pass use table slices from their first row on and one source
// base; together they must give the whole-frame result.
TEST_P(KernelTest, BandsEqualOneCall) {
  const int32_t width = 37, height = 61, rowBytes = 2 * width;
  VerticalFilterTable bottom{};
  BuildLanczosTable(height >> 1, height, bottom, 4 * width, +0.4);
  std::mt19937 random(13);
  std::vector<uint8_t> frame(static_cast<size_t>(height) * rowBytes);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
  const uint8_t* base = frame.data() + rowBytes;
  const std::vector<uint8_t> whole = Run(base, width, height, 6, bottom.offsets, bottom.coeffs);
  for (int32_t bands : {2, 3, 7, 61}) {
    std::vector<uint8_t> banded(whole.size(), 0xCD);
    for (int32_t i = 0; i < bands; ++i) {
      const int32_t start = height * i / bands, end = height * (i + 1) / bands;
      kernel_(base, banded.data() + start * rowBytes, width, end - start, 6, bottom.offsets + start * 6,
              bottom.coeffs + start * 6, rowBytes);
    }
    EXPECT_EQ(banded, whole) << bands << " bands";
  }
  FreeTable(bottom);
}

TEST_P(KernelTest, NothingToDoWritesNothing) {
  const int32_t offsets[1] = {0};
  const CoefficientWord coeffs[1] = {Word(32767)};
  const uint8_t src[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  std::vector<uint8_t> dst(16, 0xCD);
  kernel_(src, dst.data(), 4, 0, 1, offsets, coeffs, 8);   // no row
  kernel_(src, dst.data(), 4, 1, 0, offsets, coeffs, 8);   // no tap
  kernel_(src, dst.data(), 0, 1, 1, offsets, coeffs, 8);   // no pixel
  kernel_(src, dst.data(), -4, 1, 1, offsets, coeffs, 8);  // nonsense width
  EXPECT_EQ(dst, std::vector<uint8_t>(16, 0xCD));
}

// Every implementation against the scalar definition, byte for byte, over
// random geometry, tables and pixels. Output rows sit dstStride apart with
// guard bytes between and around them; the source ends at a guard page.
TEST_P(KernelTest, MatchesScalarOnRandomInput) {
  const uint32_t seed = 20240607;
  std::cout << "[ seed     ] " << seed << " (" << KernelName(GetParam()) << ")\n";
  std::mt19937 random(seed);
  auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
  const size_t guard = 64;

  for (int iteration = 0; iteration < 400; ++iteration) {
    const int32_t kind = uniform(0, 9);
    const int32_t width = kind < 6 ? uniform(1, 70) : (kind < 9 ? uniform(71, 600) : uniform(1000, 2000));
    const int32_t rowBytes = 2 * width;
    const int32_t rows = uniform(1, 8);
    const int32_t taps = uniform(0, 9) == 0 ? uniform(9, 11) : uniform(1, 8);
    const int32_t dstStride = rowBytes + (uniform(0, 2) == 0 ? 0 : uniform(1, 40));
    const size_t srcSize = static_cast<size_t>(rowBytes) * uniform(1, 8) + uniform(0, 7);

    GuardedSource source(srcSize);
    const bool extremes = uniform(0, 3) == 0;
    for (size_t i = 0; i < srcSize; ++i)
      source.data()[i] = static_cast<uint8_t>(extremes ? (random() & 1) * 255 : random());
    std::vector<int32_t> offsets(static_cast<size_t>(rows) * taps);
    std::vector<CoefficientWord> coeffs(offsets.size());
    const int32_t weightMode = uniform(0, 2);
    for (size_t i = 0; i < offsets.size(); ++i) {
      // Byte offsets anywhere in the source, the last possible one included.
      const int32_t maxOffset = static_cast<int32_t>(srcSize) - rowBytes;
      offsets[i] = uniform(0, 4) == 0 ? maxOffset : uniform(0, maxOffset);
      const int32_t weight = weightMode == 0   ? uniform(-32768, 32767)
                             : weightMode == 1 ? uniform(-6000, 32767)
                                               : (uniform(0, 1) ? 32767 : -32768);
      coeffs[i] = Word(weight);
    }

    const uint8_t fill = static_cast<uint8_t>(random());
    const size_t dstSize = guard + static_cast<size_t>(rows - 1) * dstStride + rowBytes + guard;
    std::vector<uint8_t> expected(dstSize, fill), actual(dstSize, fill);
    VerticalFilterKernelScalar(source.data(), expected.data() + guard, width, rows, taps, offsets.data(), coeffs.data(),
                               dstStride);
    kernel_(source.data(), actual.data() + guard, width, rows, taps, offsets.data(), coeffs.data(), dstStride);

    const std::string where = "iteration " + std::to_string(iteration) + ": width " + std::to_string(width) +
                              ", rows " + std::to_string(rows) + ", taps " + std::to_string(taps) + ", dstStride " +
                              std::to_string(dstStride) + ", seed " + std::to_string(seed);
    for (size_t i = 0; i < dstSize; ++i) {
      const bool inRow = i >= guard && i < dstSize - guard && (i - guard) % dstStride < static_cast<size_t>(rowBytes);
      if (!inRow) {
        ASSERT_EQ(actual[i], fill) << "guard byte " << i << " written; " << where;
      }
      ASSERT_EQ(actual[i], expected[i]) << "byte " << i << "; " << where;
    }
  }
}

// The byte-count entry point: rows of any number of bytes (odd ones: a
// chroma plane's), read and written through offsets and a pitch below zero
// (a frame turned over), against the scalar kernel, the gaps between the
// output rows checked untouched.
TEST_P(KernelTest, ByteCountsAndRowsTurnedOverMatchScalar) {
  const VerticalFilterBytesFn bytesKernel = BytesKernelFor(GetParam());
  ASSERT_NE(bytesKernel, nullptr);
  const uint32_t seed = 31337;
  std::mt19937 random(seed);
  const int32_t rows = 7, taps = 6;
  for (int32_t rowBytes : {1, 13, 15, 17, 31, 33, 63, 65, 127, 959}) {
    const int32_t pitch = rowBytes + 3;
    std::vector<uint8_t> source(static_cast<size_t>(rows) * pitch);
    for (uint8_t& b : source) b = static_cast<uint8_t>(random());
    const uint8_t* lastRow = source.data() + (rows - 1) * pitch;
    std::vector<int32_t> offsets(rows * taps);
    std::vector<CoefficientWord> coeffs(offsets.size());
    for (size_t i = 0; i < offsets.size(); ++i) {
      offsets[i] = -static_cast<int32_t>(random() % rows) * pitch;
      coeffs[i] = Word(static_cast<int32_t>(random() % 32000) - 8000);
    }
    std::vector<uint8_t> expected(static_cast<size_t>(rows) * pitch, 0xCD), actual(expected);
    const size_t last = static_cast<size_t>(rows - 1) * pitch;
    VerticalFilterBytesScalar(lastRow, expected.data() + last, rowBytes, rows, taps, offsets.data(), coeffs.data(),
                              -pitch);
    bytesKernel(lastRow, actual.data() + last, rowBytes, rows, taps, offsets.data(), coeffs.data(), -pitch);
    EXPECT_EQ(actual, expected) << rowBytes << " bytes a row, seed " << seed;
    for (int32_t r = 0; r < rows; ++r)
      EXPECT_EQ(expected[r * pitch + rowBytes], 0xCD) << rowBytes << " bytes a row: a gap written";
  }
}

TEST(KernelSelection, ChoosesTheWidestAvailableImplementationOnce) {
  const KernelIsa selected = SelectedKernelIsa();
  EXPECT_EQ(SelectedKernelIsa(), selected);
  ASSERT_NE(KernelFor(selected), nullptr);
  EXPECT_EQ(KernelFor(KernelIsa::Scalar), &VerticalFilterKernelScalar);
  const KernelIsa widest = KernelFor(KernelIsa::Avx2) != nullptr   ? KernelIsa::Avx2
                           : KernelFor(KernelIsa::Sse2) != nullptr ? KernelIsa::Sse2
                                                                   : KernelIsa::Scalar;
  EXPECT_EQ(selected, widest);
  // The forced paths are really different code.
  for (KernelIsa isa : {KernelIsa::Sse2, KernelIsa::Avx2}) {
    if (KernelFor(isa) != nullptr) {
      EXPECT_NE(KernelFor(isa), KernelFor(KernelIsa::Scalar)) << KernelName(isa);
    }
  }
  std::cout << "[ kernel   ] " << KernelName(selected) << "\n";
}

TEST(KernelSelection, DispatchedKernelMatchesScalar) {
  const int32_t width = 721, height = 9, rowBytes = 2 * width;
  VerticalFilterTable smooth{};
  BuildSmoothTable(height, smooth, rowBytes);
  std::mt19937 random(17);
  std::vector<uint8_t> frame(static_cast<size_t>(height) * rowBytes);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> expected(frame.size()), actual(frame.size());
  VerticalFilterKernelScalar(frame.data(), expected.data(), width, height, 3, smooth.offsets, smooth.coeffs, rowBytes);
  VerticalFilterKernel(frame.data(), actual.data(), width, height, 3, smooth.offsets, smooth.coeffs, rowBytes);
  EXPECT_EQ(actual, expected);
  FreeTable(smooth);
}

}  // namespace
