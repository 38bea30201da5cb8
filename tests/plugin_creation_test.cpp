// Loading the module, registering ZEMIVTC, and every creation refusal, all
// through the host as a script call would go.
#include <gtest/gtest.h>

#include <cstring>

#include "error_of.h"
#include "module_fixture.h"

using namespace testing_support;

namespace {

class Creation : public ::testing::Test {
 protected:
  void SetUp() override { entryText = env.LoadPlugin(ZEMIVTC_MODULE_PATH); }
  host::ScriptEnvironment env;
  std::string entryText;
};

TEST_F(Creation, EntryRegistersOneFunction) {
  EXPECT_EQ(entryText, "ZEMIVTC Plugin");
  ASSERT_EQ(env.Functions().size(), 1u);
  EXPECT_EQ(env.Functions()[0].name, "ZEMIVTC");
  EXPECT_EQ(env.Functions()[0].params, "c[zemFile]s");
  EXPECT_EQ(env.Functions()[0].userData, nullptr);
}

// The refusals in their order: the colour format (whatever the size and the
// plan), a height below 2, a size whose bytes (2 * width * height) do not
// fit a signed 32-bit offset, all before the plan is read.
TEST_F(Creation, RefusalsComeInTheirOrder) {
  PlanFile plan("11");
  const struct {
    int pixelType, width, height;
    const char* error;
  } cases[] = {
      {CS_BGR24, 16, 8, "Invalid video colorspace"},
      {CS_BGR32, 16, 8, "Invalid video colorspace"},
      {CS_YV12, 16, 8, "Invalid video colorspace"},
      {CS_YUY2 | 1, 16, 8, "Invalid video colorspace"},
      {CS_BGR32, 16, 1, "Invalid video colorspace"},
      {CS_YUY2, 16, 1, "Video height must be at least 2"},
      {CS_YUY2, 0, 8, "Invalid video size"},
      {CS_YUY2, 46341, 23171, "Invalid video size"},
      {CS_YUY2, 16384, 65536, "Invalid video size"},
      {CS_YUY2, -2, 8, "Invalid video size"},
      {CS_YUY2, 32768, 32767, ""},  // 2 * 32768 * 32767 bytes fit
  };
  for (const auto& c : cases) {
    VideoInfo vi = Yuy2Info(c.width, c.height, 2);
    vi.pixel_type = c.pixelType;
    PClip clip(new host::MemoryClip(vi, {}));
    for (const char* path : {plan.path.c_str(), "/nonexistent/plan", static_cast<const char*>(nullptr)}) {
      const char* want = *c.error || path == plan.path.c_str() ? c.error : "File open error";
      EXPECT_EQ(CreationError(env, clip.get(), path), want) << c.pixelType << " " << c.width << "x" << c.height;
    }
    EXPECT_EQ(clip->RefCount(), 1);
  }
}

// The reader's refusal passed on (the reader's own cases: plan_test.cpp),
// and a zemFile of another type, which the host's type check keeps from any
// script, taken by the module as no path.
TEST_F(Creation, PlanFileThatCannotBeOpened) {
  PClip clip(RandomClip(16, 8, 2, 1));
  EXPECT_EQ(CreationError(env, clip.get(), "/nonexistent/dir/plan.txt"), "File open error");
  {
    AVSValue args[2] = {AVSValue(clip), AVSValue(5)};
    EXPECT_EQ(ErrorOf([&] { env.Functions()[0].apply(AVSValue(args, 2), nullptr, &env); }), "File open error");
  }
  EXPECT_EQ(clip->RefCount(), 1);
}

// The output clip is the child's, but for the count and the rate; its
// parity and audio are the child's, asked as given.
TEST_F(Creation, OutputClipPropertiesParityAndAudioAreTheChilds) {
  VideoInfo childInfo;
  host::MemoryClip* memory = RandomClip(20, 6, 4, 3, 0, &childInfo);
  memory->parity = {true, false, true};
  memory->bytesPerAudioSample = 4;
  for (int i = 0; i < 64; ++i) memory->audio.push_back(static_cast<uint8_t>(i * 7));
  PClip clip(memory);
  PlanFile plan(std::string("1\r\n1x7 2\0"
                            "6543",
                            13),
                "props");
  {
    PClip filter = InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip();
    EXPECT_EQ(clip->RefCount(), 2);  // the filter's child
    VideoInfo want = childInfo;
    want.num_frames = 7, want.fps_numerator = 60000, want.fps_denominator = 1001;
    EXPECT_EQ(std::memcmp(&filter->GetVideoInfo(), &want, sizeof want), 0);
    EXPECT_EQ(filter->GetVersion(), 2);
    EXPECT_TRUE(filter->GetParity(0) && !filter->GetParity(1) && filter->GetParity(2));
    EXPECT_EQ(memory->parityRequests, (std::vector<int>{0, 1, 2}));  // not remapped
    uint8_t audio[12] = {};
    filter->GetAudio(audio, 2, 3, &env);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(audio[i], static_cast<uint8_t>((8 + i) * 7));
  }
  EXPECT_EQ(clip->RefCount(), 1);
}

TEST_F(Creation, ManyFiltersLiveSideBySide) {
  PClip clip(RandomClip(8, 4, 3, 6));
  PlanFile plan("12345");
  std::vector<PClip> filters;
  for (int i = 0; i < 8; ++i) filters.push_back(InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip());
  EXPECT_EQ(clip->RefCount(), 9);
  filters.clear();
  EXPECT_EQ(clip->RefCount(), 1);
}

}  // namespace
