// Frames through the real module, byte for byte against a plain model of the
// weave, the tables and the fixed-point filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "frame_model.h"
#include "module_fixture.h"
#include "vfilter/vertical_filter.h"

using namespace testing_support;

namespace {

std::vector<Picture> SourcePictures(host::MemoryClip* clip, int width, int height, int frames,
                                    host::ScriptEnvironment& env) {
  std::vector<Picture> pictures;
  for (int f = 0; f < frames; ++f) pictures.push_back(Pixels(clip->GetFrame(f, &env), width, height));
  clip->requests.clear();
  return pictures;
}

// Every output frame of the plan, visible bytes only.
std::vector<Picture> Render(const char* modulePath, int width, int height, int frames, const std::string& planText,
                            int sourcePadding = 0, int newFramePadding = 0, int sourceOffset = host::DefaultFrameOffset,
                            int newFrameOffset = host::DefaultFrameOffset) {
  host::ScriptEnvironment env;
  env.LoadPlugin(modulePath);
  env.SetExtraPitch(newFramePadding);
  env.SetFrameOffset(newFrameOffset);
  PClip clip(RandomClip(width, height, frames, 77, sourcePadding, nullptr, sourceOffset));
  PlanFile plan(planText);
  PClip filter = InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip();
  std::vector<Picture> out;
  for (int n = 0; n < filter->GetVideoInfo().num_frames; ++n)
    out.push_back(Pixels(filter->GetFrame(n, &env), width, height));
  return out;
}

const char* const EveryCodeEverywhere = "1212343456561111222233334444555566660";

struct Geometry {
  int width, height;
};

TEST(Frames, EveryCodeMatchesTheModel) {
  for (Geometry g : {Geometry{16, 8}, Geometry{18, 7}, Geometry{2, 5}, Geometry{3, 2}, Geometry{6, 3},
                     Geometry{720, 480}, Geometry{34, 481}}) {
    SCOPED_TRACE(::testing::Message() << g.width << "x" << g.height);
    host::ScriptEnvironment env;
    env.LoadPlugin(ZEMIVTC_MODULE_PATH);
    const int frames = 12;
    host::MemoryClip* memory = RandomClip(g.width, g.height, frames, 1000 + g.width + g.height);
    PClip clip(memory);
    const std::vector<Picture> source = SourcePictures(memory, g.width, g.height, frames, env);
    PlanFile plan(EveryCodeEverywhere);
    PClip filter = InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip();
    std::string text = EveryCodeEverywhere;
    int n = 0;
    for (uint32_t p = 0; p < text.size(); ++p) {
      if (text[p] < '1' || text[p] > '6') continue;
      PVideoFrame frame = filter->GetFrame(n++, &env);
      ASSERT_EQ(Pixels(frame, g.width, g.height), ModelFrame(source, g.width, g.height, p, text[p]))
          << "position " << p << " code " << text[p];
    }
  }
}

// What the module asks of its child: for a weave the later frame first
// (position 7: frames 4, 3), at an even position the child's own frame passed
// on (position 4: frame 2), and frames past either end of the plan the
// nearest one's.
TEST(Frames, RequestsToTheChild) {
  host::ScriptEnvironment env;
  env.LoadPlugin(ZEMIVTC_MODULE_PATH);
  host::MemoryClip* memory = RandomClip(8, 6, 6, 9);
  PClip clip(memory);
  PlanFile plan("000010011");
  PClip filter = InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip();
  EXPECT_EQ(filter->GetFrame(0, &env).get(), memory->GetFrame(2, &env).get());
  memory->requests.clear();
  filter->GetFrame(1, &env);
  EXPECT_EQ(memory->requests, (std::vector<int>{4, 3}));
  EXPECT_EQ(Pixels(filter->GetFrame(-3, &env), 8, 6), Pixels(filter->GetFrame(0, &env), 8, 6));
  EXPECT_EQ(Pixels(filter->GetFrame(99, &env), 8, 6), Pixels(filter->GetFrame(2, &env), 8, 6));
}

TEST(Frames, SameBytesForAnyWorkerCount) {
  const std::vector<Picture> reference = Render(ZEMIVTC_MODULE_PATH, 38, 27, 10, EveryCodeEverywhere);
  for (int workers : {1, 2, 3, 7, 16, 64}) {
    setenv("ZEMIVTC_TEST_PROCESSORS", std::to_string(workers).c_str(), 1);
    EXPECT_EQ(Render(ZEMIVTC_TESTHOOKS_MODULE_PATH, 38, 27, 10, EveryCodeEverywhere), reference) << workers;
  }
  // More workers than rows: some bands are empty.
  const std::vector<Picture> small = Render(ZEMIVTC_MODULE_PATH, 8, 3, 6, EveryCodeEverywhere);
  setenv("ZEMIVTC_TEST_PROCESSORS", "16", 1);
  EXPECT_EQ(Render(ZEMIVTC_TESTHOOKS_MODULE_PATH, 8, 3, 6, EveryCodeEverywhere), small);
  unsetenv("ZEMIVTC_TEST_PROCESSORS");
}

// Frames are windows into host buffers: padded rows, and row 0 anywhere in
// the buffer (a cropped source starts at any byte, even an odd one).
TEST(Frames, PaddedAndOffsetRowsGiveTheSamePicture) {
  struct Layout {
    int sourcePadding, newFramePadding, sourceOffset, newFrameOffset;
  } layouts[] = {{40, 0, 64, 64}, {0, 36, 64, 64}, {64, 100, 64, 64}, {6, 0, 3, 64}, {2, 16, 0, 4}, {0, 0, 1, 0}};
  for (Geometry g : {Geometry{16, 8}, Geometry{22, 9}, Geometry{720, 480}}) {
    const std::vector<Picture> plain = Render(ZEMIVTC_MODULE_PATH, g.width, g.height, 10, EveryCodeEverywhere);
    for (const Layout& l : layouts) {
      EXPECT_EQ(Render(ZEMIVTC_MODULE_PATH, g.width, g.height, 10, EveryCodeEverywhere, l.sourcePadding,
                       l.newFramePadding, l.sourceOffset, l.newFrameOffset),
                plain)
          << g.width << "x" << g.height << " padding " << l.sourcePadding << "/" << l.newFramePadding << " offset "
          << l.sourceOffset << "/" << l.newFrameOffset;
    }
  }
}

}  // namespace
