// The plan's two passes and the output clip properties.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plan/frame_plan.h"
#include "plugin/zem_ivtc_filter.h"

namespace {

std::vector<FramePlanEntry> Table(const std::string& plan) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(plan.data());
  const int32_t count = CountPlanFrames(bytes, static_cast<int32_t>(plan.size()));
  std::vector<FramePlanEntry> table(count + 1, FramePlanEntry{0xFFFFFFFFu, -1});
  FillFrameTable(bytes, static_cast<int32_t>(plan.size()), table.data());
  EXPECT_EQ(table.back().code, -1) << "wrote past the counted entries";
  table.pop_back();
  return table;
}

MATCHER_P2(IsEntry, position, code, "") { return arg.position == uint32_t(position) && arg.code == code; }

TEST(Plan, WorkedExample) {
  EXPECT_THAT(Table("15034"),
              ::testing::ElementsAre(IsEntry(0, '1'), IsEntry(1, '5'), IsEntry(3, '3'), IsEntry(4, '4')));
}

TEST(Plan, LineBreaksAndOtherBytesTakePositions) {
  EXPECT_THAT(Table("1\r\n1"), ::testing::ElementsAre(IsEntry(0, '1'), IsEntry(3, '1')));
  std::string odd("7 9a\0/:0", 8);
  odd += "6";
  EXPECT_THAT(Table(odd), ::testing::ElementsAre(IsEntry(8, '6')));
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::vector<FramePlanEntry> table = Table(all);
  ASSERT_EQ(table.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_THAT(table[i], IsEntry('1' + i, '1' + i));
}

TEST(Plan, EmptyPlan) {
  EXPECT_TRUE(Table("").empty());
  EXPECT_TRUE(Table("0000").empty());
}

TEST(Plan, OutputPropertiesChangeRateAndCountOnly) {
  VideoInfo vi{};
  vi.width = 720;
  vi.height = 480;
  vi.fps_numerator = 25;
  vi.fps_denominator = 1;
  vi.num_frames = 100;
  vi.pixel_type = CS_YUY2;
  vi.nchannels = 2;
  VideoInfo expected = vi;
  SetOutputProperties(vi, 42);
  expected.num_frames = 42;
  expected.fps_numerator = 60000;
  expected.fps_denominator = 1001;
  EXPECT_EQ(std::memcmp(&vi, &expected, sizeof vi), 0);
}

}  // namespace
