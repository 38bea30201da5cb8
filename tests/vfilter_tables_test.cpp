// Table builders against worked rows: offsets, coefficient words, clamping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "vfilter/sine.h"
#include "vfilter/vertical_filter.h"

namespace {

// Owns a table for the length of a test.
struct Table : VerticalFilterTable {
  Table() : VerticalFilterTable{0, nullptr, nullptr, 0} {}
  ~Table() { FreeTable(*this); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  std::vector<int32_t> Offsets(int32_t row) const { return {offsets + row * taps, offsets + (row + 1) * taps}; }
  // Signed weights of a row, after checking that each word repeats its
  // weight in all four lanes.
  std::vector<int32_t> Weights(int32_t row) const {
    std::vector<int32_t> result;
    for (int32_t j = 0; j < taps; ++j) {
      const CoefficientWord word = coeffs[row * taps + j];
      const int16_t lane0 = static_cast<int16_t>(word & 0xFFFF);
      for (int lane = 1; lane < 4; ++lane) {
        EXPECT_EQ(static_cast<int16_t>((word >> (16 * lane)) & 0xFFFF), lane0) << "row " << row << " tap " << j;
      }
      result.push_back(lane0);
    }
    return result;
  }
  int32_t WeightSum(int32_t row) const {
    int32_t sum = 0;
    for (int32_t w : Weights(row)) sum += w;
    return sum;
  }
};

typedef std::vector<int32_t> V;

// The three tables of a width x height clip, built as the filter builds them.
struct ClipTables {
  Table top, bottom, smooth;
  ClipTables(int32_t width, int32_t height) {
    BuildLanczosTable(height >> 1, height, top, 4 * width, -0.4);
    BuildLanczosTable(height >> 1, height, bottom, 4 * width, +0.4);
    BuildSmoothTable(height, smooth, 2 * width);
  }
};

TEST(LanczosTable, WorkedRowsOf720x480) {
  ClipTables t(720, 480);
  ASSERT_EQ(t.top.rows, 480);
  ASSERT_EQ(t.top.taps, 6);
  ASSERT_EQ(t.bottom.rows, 480);
  ASSERT_EQ(t.bottom.taps, 6);

  EXPECT_EQ(t.top.Offsets(0), (V{0, 0, 0, 0, 2880, 5760}));
  EXPECT_EQ(t.top.Weights(0), (V{0, 763, -3204, 31563, 4883, -1238}));
  EXPECT_EQ(t.top.WeightSum(0), 32767);
  EXPECT_EQ(t.top.Offsets(1), (V{0, 0, 0, 2880, 5760, 8640}));
  EXPECT_EQ(t.top.Weights(1), (V{454, -3234, 13279, 26082, -4831, 1015}));
  EXPECT_EQ(t.top.WeightSum(1), 32765);
  EXPECT_EQ(t.top.Offsets(479), (V{682560, 685440, 688320, 688320, 688320, 688320}));
  EXPECT_EQ(t.top.Weights(479), t.top.Weights(1));

  EXPECT_EQ(t.bottom.Offsets(0), t.top.Offsets(0));
  EXPECT_EQ(t.bottom.Weights(0), (V{1015, -4831, 26082, 13279, -3234, 454}));
  EXPECT_EQ(t.bottom.Offsets(1), t.top.Offsets(1));
  EXPECT_EQ(t.bottom.Weights(1), (V{-1238, 4883, 31563, -3204, 763, 0}));

  // The words themselves: one weight in each 16-bit lane.
  EXPECT_EQ(t.top.coeffs[1], 0x02FB02FB02FB02FBULL);
  EXPECT_EQ(t.top.coeffs[2], 0xF37CF37CF37CF37CULL);
}

// Away from the edges nothing is clamped: row 240 (c = 120.25) reads field
// rows 117 to 122; every row has the weights of row 0 or row 1.
TEST(LanczosTable, EvenHeightAlternatesTwoWeightSets) {
  ClipTables t(720, 480);
  EXPECT_EQ(t.top.Offsets(240), (V{117 * 2880, 118 * 2880, 119 * 2880, 120 * 2880, 121 * 2880, 122 * 2880}));
  for (Table* table : {&t.top, &t.bottom}) {
    for (int32_t i = 2; i < 480; ++i) ASSERT_EQ(table->Weights(i), table->Weights(i & 1)) << "row " << i;
  }
}

TEST(LanczosTable, OddHeightWeightsVaryAndNeverReachTheLastFrameRow) {
  ClipTables t(720, 481);
  ASSERT_EQ(t.top.rows, 481);
  const int32_t lastFieldRow = 239 * 2880;  // 240 source rows for 481 output rows
  for (Table* table : {&t.top, &t.bottom}) {
    int32_t distinct = 0;
    for (int32_t i = 0; i < 481; ++i) {
      for (int32_t offset : table->Offsets(i)) {
        ASSERT_GE(offset, 0);
        ASSERT_LE(offset, lastFieldRow);
      }
      const int32_t sum = table->WeightSum(i);
      EXPECT_GE(sum, 32767 - 6) << "row " << i;
      EXPECT_LE(sum, 32767 + 6) << "row " << i;
      if (i >= 2 && table->Weights(i) != table->Weights(i - 2)) ++distinct;
    }
    EXPECT_GT(distinct, 400);
  }
  EXPECT_EQ(t.top.Offsets(480).back(), lastFieldRow);
  // c = 0.5 * 240 / 481 for row 0: first row -3, clamped to row 0.
  EXPECT_EQ(t.top.Offsets(0), (V{0, 0, 0, 0, 2880, 5760}));
  EXPECT_NE(t.top.Weights(0), t.top.Weights(2));
}

TEST(LanczosTable, HeightTwoReadsTheOnlySourceRow) {
  ClipTables t(8, 2);
  ASSERT_EQ(t.top.rows, 2);
  for (int32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(t.top.Offsets(i), (V{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(t.bottom.Offsets(i), (V{0, 0, 0, 0, 0, 0}));
  }
  EXPECT_EQ(t.smooth.Offsets(0), (V{0, 0, 16}));
  EXPECT_EQ(t.smooth.Offsets(1), (V{0, 16, 16}));
}

// Same number of source and output rows, no shift: every centre falls on a
// tap row (distance 0 weighs exactly 1.0, so after normalisation 32767), the
// other taps sit at whole distances -2, -1, 1, 2 (sines of whole multiples
// of pi, truncated to 0) and 3 (weight 0 by the window's end).
TEST(LanczosTable, IdentityRebuildHasOneFullWeight) {
  Table table;
  BuildLanczosTable(10, 10, table, 100, 0.0);
  ASSERT_EQ(table.rows, 10);
  for (int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(table.Weights(i), (V{0, 0, 32767, 0, 0, 0})) << "row " << i;
    V expected;
    for (int32_t s = i - 2; s <= i + 3; ++s) expected.push_back((s < 0 ? 0 : (s > 9 ? 9 : s)) * 100);
    EXPECT_EQ(table.Offsets(i), expected) << "row " << i;
  }
}

TEST(SmoothTable, WorkedRowsAndConstantWeights) {
  ClipTables t(720, 480);
  ASSERT_EQ(t.smooth.rows, 480);
  ASSERT_EQ(t.smooth.taps, 3);
  EXPECT_EQ(t.smooth.Offsets(0), (V{0, 0, 1440}));
  EXPECT_EQ(t.smooth.Offsets(1), (V{0, 1440, 2880}));
  EXPECT_EQ(t.smooth.Offsets(479), (V{688320, 689760, 689760}));
  for (int32_t r = 0; r < 480; ++r) {
    ASSERT_EQ(t.smooth.coeffs[r * 3 + 0], 0x2000200020002000ULL) << "row " << r;
    ASSERT_EQ(t.smooth.coeffs[r * 3 + 1], 0x3FFF3FFF3FFF3FFFULL) << "row " << r;
    ASSERT_EQ(t.smooth.coeffs[r * 3 + 2], 0x2000200020002000ULL) << "row " << r;
    if (r >= 1 && r <= 478) {
      ASSERT_EQ(t.smooth.Offsets(r), (V{(r - 1) * 1440, r * 1440, (r + 1) * 1440}));
    }
  }
}

TEST(SmoothTable, SingleRowReadsOnlyItself) {
  Table table;
  BuildSmoothTable(1, table, 1440);
  ASSERT_EQ(table.rows, 1);
  EXPECT_EQ(table.Offsets(0), (V{0, 0, 0}));
}

// Geometries without a usable table give an empty one (rows 0, null arrays)
// that the caller can detect, never offsets outside the source.
TEST(TableBuilders, UnbuildableGeometriesGiveAnEmptyTable) {
  struct Case {
    int32_t sourceRows, outputRows, rowStep;
  };
  for (const Case& c : {Case{0, 1, 2880}, Case{240, 0, 2880}, Case{-1, 4, 2880}, Case{1000, 2000, 4000000}}) {
    Table table;
    table.rows = 99;  // the builder must set every field
    BuildLanczosTable(c.sourceRows, c.outputRows, table, c.rowStep, -0.4);
    EXPECT_EQ(table.rows, 0) << c.sourceRows << " " << c.outputRows << " " << c.rowStep;
    EXPECT_EQ(table.taps, 0);
    EXPECT_EQ(table.coeffs, nullptr);
    EXPECT_EQ(table.offsets, nullptr);
  }
  for (const Case& c : {Case{0, 0, 1440}, Case{-5, 0, 1440}, Case{1000, 0, 4000000}}) {
    Table table;
    BuildSmoothTable(c.sourceRows, table, c.rowStep);
    EXPECT_EQ(table.rows, 0) << c.sourceRows << " " << c.rowStep;
    EXPECT_EQ(table.coeffs, nullptr);
    EXPECT_EQ(table.offsets, nullptr);
  }
}

TEST(TableBuilders, FreeClearsTheTable) {
  VerticalFilterTable table{};
  BuildSmoothTable(4, table, 16);
  ASSERT_NE(table.coeffs, nullptr);
  FreeTable(table);
  EXPECT_EQ(table.rows, 0);
  EXPECT_EQ(table.taps, 0);
  EXPECT_EQ(table.coeffs, nullptr);
  EXPECT_EQ(table.offsets, nullptr);
  FreeTable(table);  // a cleared table may be freed again
}

// The builder's own sine is correctly rounded, where the C library's is now
// and then a unit off; its quick path must always agree with the full series.
TEST(TableSine, CorrectlyRoundedAndTheQuickPathAgreesWithTheSeries) {
  struct Known {
    double x, sine;
  } known[] = {
      {3.141592653589793, 1.2246467991473532e-16},  // sin of the double nearest pi
      {1.5707963267948966, 1.0},
      {0.5845652726828057, 0.5518368927437499},      // glibc: ...75003
      {5.183627878423159, -0.8910065241883679},      // glibc: ...836801
      {-0.20943951023931914, -0.20791169081775893},  // glibc: ...775895
      {0.0, 0.0},
  };
  for (const Known& k : known) EXPECT_EQ(TableSine(k.x), k.sine) << k.x;
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> argument(-10.0, 10.0);  // the tables need |x| < 3 pi
  for (int i = 0; i < 200000; ++i) {
    const double x = argument(rng);
    ASSERT_EQ(TableSine(x), TableSineBySeries(x)) << "x = " << x;
    ASSERT_NEAR(TableSine(x), std::sin(x), 1e-15) << "x = " << x;
  }
}

// The tables against the formula written out with the C library's sine, for
// every height up to 1100 and some beyond: the builder's sine and its reuse
// of rows with equal distances change no coefficient.
TEST(LanczosTable, EqualsTheFormulaWithTheLibrarySine) {
  auto weight = [](double m) {
    if (std::fabs(m) < 2.220446049250313e-16) return 1.0;
    if (std::fabs(m) >= 3.0) return 0.0;
    return std::sin(3.141592653589793 * m) * std::sin(m * 1.0471975511965976) / ((m * m) * 3.2898681336964524);
  };
  std::vector<int32_t> heights;
  for (int32_t h = 2; h <= 1100; ++h) heights.push_back(h);
  for (int32_t h : {1920, 2160, 4319, 4320}) heights.push_back(h);
  for (int32_t height : heights) {
    const int32_t sourceRows = height / 2;
    for (double shift : {-0.4, 0.4}) {
      Table table;
      BuildLanczosTable(sourceRows, height, table, 8, shift);
      const double r = 1.0 / height;
      for (int32_t i = 0; i < height; ++i) {
        const double c = ((i + 0.5) * sourceRows) * r;
        const double d = (std::floor(c - 2.5) + 0.5) - c;
        double w[6], sum = 0.0;
        for (int j = 0; j < 6; ++j) sum = sum + (w[j] = weight(shift + (d + j)));
        V want;
        for (int j = 0; j < 6; ++j)
          want.push_back(static_cast<int16_t>(static_cast<int32_t>(((1.0 / sum) * w[j]) * 32767.0)));
        ASSERT_EQ(table.Weights(i), want) << "height " << height << " shift " << shift << " row " << i;
      }
    }
  }
}

}  // namespace
