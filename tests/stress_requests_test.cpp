// Long runs of random frame requests: random n (in range and past either
// end), every code, random order, new frames of changing pitch, several
// filters with different worker counts alive at once. Every frame must equal
// the one a single-worker filter makes when asked in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "module_fixture.h"

using namespace testing_support;

namespace {

typedef std::vector<uint8_t> Picture;

// A random plan: mostly codes, with '0', line breaks and other bytes between.
std::string RandomPlan(std::mt19937& rng, size_t length) {
  static const char bytes[] = "1234561234560\n\r x9";
  std::string plan;
  for (size_t i = 0; i < length; ++i) plan += bytes[rng() % (sizeof bytes - 1)];
  return plan;
}

PClip MakeFilter(host::ScriptEnvironment& env, IClip* clip, const std::string& planPath, int workers) {
  setenv("ZEMIVTC_TEST_PROCESSORS", std::to_string(workers).c_str(), 1);
  PClip filter = InvokeZemIvtc(env, clip, planPath.c_str()).AsClip();
  unsetenv("ZEMIVTC_TEST_PROCESSORS");
  return filter;
}

struct Shape {
  int width, height, frames, sourcePadding;
};

class StressRequests : public ::testing::TestWithParam<Shape> {};

TEST_P(StressRequests, RandomOrderMatchesTheSingleWorkerRunInOrder) {
  const Shape shape = GetParam();
  const uint32_t seed = 20260 + shape.width * 31 + shape.height;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  host::ScriptEnvironment env;
  env.LoadPlugin(ZEMIVTC_TESTHOOKS_MODULE_PATH);
  PClip clip(RandomClip(shape.width, shape.height, shape.frames, seed, shape.sourcePadding));
  // Positions reach two frames past the clip's end: those requests clamp.
  PlanFile plan(RandomPlan(rng, 2 * shape.frames + 4));

  PClip single = MakeFilter(env, clip.get(), plan.path, 1);
  const int count = single->GetVideoInfo().num_frames;
  ASSERT_GT(count, 0);
  std::vector<Picture> reference;
  for (int n = 0; n < count; ++n) reference.push_back(Pixels(single->GetFrame(n, &env), shape.width, shape.height));

  std::vector<PClip> filters;
  for (int workers : {2, 3, 16, 64}) filters.push_back(MakeFilter(env, clip.get(), plan.path, workers));
  const int requests = 3000;
  for (int i = 0; i < requests; ++i) {
    const size_t which = rng() % filters.size();
    const int n = static_cast<int>(rng() % (count + 8)) - 4;
    env.SetExtraPitch(static_cast<int>(rng() % 5) * 7);
    const Picture got = Pixels(filters[which]->GetFrame(n, &env), shape.width, shape.height);
    const int expected = std::min(std::max(n, 0), count - 1);
    ASSERT_EQ(got, reference[expected]) << "request " << i << ": frame " << n << " of filter " << which;
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, StressRequests,
                         ::testing::Values(Shape{37, 23, 12, 0}, Shape{2, 2, 5, 3}, Shape{1, 3, 4, 0},
                                           Shape{64, 31, 9, 20}, Shape{200, 120, 6, 0}),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
