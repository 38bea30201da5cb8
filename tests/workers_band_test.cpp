// Band partition: worked starts and the cover/balance property.
#include <gtest/gtest.h>

#include <vector>

#include "workers/worker_pool.h"

namespace {

std::vector<int32_t> Starts(int32_t total, int32_t count) {
  std::vector<int32_t> starts;
  for (int32_t i = 0; i < count; ++i) starts.push_back(BandStart(total, i, count));
  return starts;
}

TEST(BandStart, WorkedTotals) {
  EXPECT_EQ(Starts(5, 4), (std::vector<int32_t>{0, 1, 3, 4}));  // 2.5 rounds up
  EXPECT_EQ(Starts(240, 7), (std::vector<int32_t>{0, 34, 69, 103, 137, 171, 206}));
  EXPECT_EQ(Starts(240, 4), (std::vector<int32_t>{0, 60, 120, 180}));
  EXPECT_EQ(Starts(240, 3), (std::vector<int32_t>{0, 80, 160}));
  EXPECT_EQ(Starts(480, 7), (std::vector<int32_t>{0, 69, 137, 206, 274, 343, 411}));
  EXPECT_EQ(Starts(3, 4), (std::vector<int32_t>{0, 1, 2, 2}));  // band 2 empty
  EXPECT_EQ(Starts(240, 8), (std::vector<int32_t>{0, 30, 60, 90, 120, 150, 180, 210}));
  EXPECT_EQ(Starts(243, 2), (std::vector<int32_t>{0, 122}));  // 121.5 rounds up
  EXPECT_EQ(Starts(0, 3), (std::vector<int32_t>{0, 0, 0}));
}

TEST(BandStart, EveryRowCoveredOnceAndSizesBalanced) {
  const int32_t totals[] = {0, 1, 2, 3, 5, 7, 63, 64, 65, 240, 243, 480, 540, 1079, 1080, 2160, 100003};
  for (int32_t total : totals) {
    for (int32_t count = 1; count <= 70; ++count) {
      SCOPED_TRACE(testing::Message() << "total " << total << " over " << count);
      std::vector<int32_t> covered(total, 0);
      int32_t end = total;
      int32_t smallest = total + 1, largest = -1;
      for (int32_t i = count - 1; i >= 0; --i) {
        const int32_t start = BandStart(total, i, count);
        ASSERT_LE(0, start);
        ASSERT_LE(start, end);
        for (int32_t row = start; row < end; ++row) ++covered[row];
        smallest = std::min(smallest, end - start);
        largest = std::max(largest, end - start);
        end = start;
      }
      EXPECT_EQ(end, 0);
      EXPECT_LE(largest - smallest, 1);
      for (int32_t row = 0; row < total; ++row) ASSERT_EQ(covered[row], 1) << "row " << row;
      // Empty bands only when there are fewer rows than bands.
      EXPECT_EQ(smallest == 0, total < count);
    }
  }
}

}  // namespace
