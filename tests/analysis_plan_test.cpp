// zemivtc plan on generated footage (tests/footage.h), its plan rendered
// through the built command and checked against the known film frames; the
// timecodes and rate of the render; the vector measures against the plain
// ones; the PNG encoder; and every refusal of the plan command.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/field_measures.h"
#include "stream/png.h"
#include "tests/command_line.h"
#include "tests/footage.h"
#include "tests/footage_suite.h"

namespace {

using testing_support::CommandResult;
using testing_support::ExpectRefusals;
using testing_support::FlatClip;
using testing_support::HaveFfmpeg;
using testing_support::MakeTempDir;
using testing_support::ReadAll;
using testing_support::RunShell;
using testing_support::WriteAll;
using testing_support::Y4m;

class PlanFootage : public testing_support::FootageSuite {};

TEST_F(PlanFootage, RenderedPlanGivesEveryRecoverableFilmFrameOnceAndNoCombedWeave) {
  CommandResult r = RunShell(dir, "$Z plan --out $D/plan --timeline $D/timeline.png $D/footage.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("cadence breaks"), std::string::npos) << r.err;
  const std::string plan = ReadAll(dir + "plan");
  ASSERT_EQ(plan.size(), static_cast<size_t>(2 * truth.frames - 1));
  r = RunShell(dir, "$Z -q --plan $D/plan --timecodes $D/times.txt $D/footage.y4m $D/out.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> out = footage::ReadY4mFrames(dir + "out.y4m");

  std::vector<uint64_t> hashes;
  std::vector<size_t> positions;  // plan position of each output frame
  for (size_t p = 0; p < plan.size(); ++p)
    if (plan[p] != '0') positions.push_back(p);
  ASSERT_EQ(out.size(), positions.size());
  for (size_t n = 0; n < out.size(); ++n) {
    hashes.push_back(footage::Hash(out[n]));
    // A '1' is a whole picture, never a weave of two moments.
    if (plan[positions[n]] == '1') {
      EXPECT_TRUE(truth.pictures.count(hashes.back())) << "combed '1' at position " << positions[n];
    }
  }
  // Made at 20 sizes from 256x192 (bench/plan_seeds.sh), every size gives all 124 film frames exact, once.
  const footage::Score score = footage::ScoreFrames(truth, hashes);
  EXPECT_GE(score.exactFilm * 100, truth.recoverableCount * 97) << score.exactFilm << " of " << truth.recoverableCount;
  EXPECT_EQ(score.repeatedFilm, 0);
  EXPECT_EQ(score.progressive, 30);
  std::printf("exact film frames %d of %d recoverable; %d output frames\n", score.exactFilm, truth.recoverableCount,
              score.frames);

  // Inside video every position rebuilds its field; inside progressive
  // footage every frame is taken as it is.
  for (size_t p = 1; p + 1 < plan.size(); ++p) {
    const std::string kinds = truth.positionKinds.substr(p - 1, 3);
    if (kinds == "vvv") {
      EXPECT_EQ(plan[p], '2') << "video position " << p;
    }
    // The last field of video before a cut, rebuilt alone, is a video
    // field, not a film field an edit left alone.
    if (kinds[0] == 'v' && kinds[1] == 'x' && plan[p] != '0' && plan[p] != '1') {
      EXPECT_EQ(plan[p], '2') << "last video field, position " << p;
    }
    if (kinds == "ppp") {
      EXPECT_EQ(plan[p], p % 2 ? '0' : '1') << "progressive position " << p;
    }
  }

  // One rising time per output frame: position * 1001/60 ms in video and
  // progressive footage; in film the film's even times, less than a field
  // from the position's.
  std::istringstream times(ReadAll(dir + "times.txt"));
  std::string line;
  std::getline(times, line);
  EXPECT_EQ(line, "# timecode format v2");
  double previous = -1;
  for (size_t n = 0; n < positions.size() && std::getline(times, line); ++n) {
    const double t = std::stod(line), start = positions[n] * 1001.0 / 60;
    const size_t p = positions[n];
    const std::string kinds = p > 0 && p + 1 < plan.size() ? truth.positionKinds.substr(p - 1, 3) : "";
    EXPECT_NEAR(t, start, kinds == "vvv" || kinds == "ppp" ? 1e-6 : 1001.0 / 60 - 1e-3) << line;
    EXPECT_GT(t, previous) << line;
    previous = t;
  }
  EXPECT_FALSE(std::getline(times, line)) << "extra timecode " << line;

  // The timeline decodes (ffmpeg as the independent reader); its content
  // is checked in review_test.
  r = RunShell(dir, "ffmpeg -v error -y -i $D/timeline.png -f rawvideo -pix_fmt rgb24 $D/timeline.rgb");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(ReadAll(dir + "timeline.rgb").size(), 3 * plan.size());
}

TEST_F(PlanFootage, PipeAndRawInputGiveTheSamePlanAndExplainHasALinePerPosition) {
  CommandResult r = RunShell(dir,
                             "$Z plan --explain $D/footage.y4m > $D/file.plan 2> $D/explain.txt && "
                             "cat $D/footage.y4m | $Z plan - > $D/pipe.plan && "
                             "ffmpeg -v error -y -i $D/footage.y4m -f rawvideo -pix_fmt yuyv422 $D/footage.yuyv && "
                             "$Z plan --raw 320x240 --out $D/raw.plan $D/footage.yuyv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string plan = ReadAll(dir + "file.plan");
  EXPECT_EQ(plan.size(), static_cast<size_t>(2 * truth.frames - 1));
  EXPECT_EQ(ReadAll(dir + "pipe.plan"), plan);
  EXPECT_EQ(ReadAll(dir + "raw.plan"), plan);
  std::istringstream explain(ReadAll(dir + "explain.txt"));
  size_t lines = 0;
  for (std::string line; std::getline(explain, line);) {
    if (line.find_first_not_of(' ') == std::string::npos || !isdigit(line[line.find_first_not_of(' ')]))
      continue;  // the header and the report
    std::istringstream fields(line);
    size_t position;
    fields >> position;
    EXPECT_EQ(position, lines);
    EXPECT_NE(line.find(std::string(" ") + plan[lines] + " "), std::string::npos) << line;
    ++lines;
  }
  EXPECT_EQ(lines, plan.size());
}

TEST(PlanCommand, EveryRefusalHasItsMessageAndStatusAndLeavesNoFileBehind) {
  const std::string dir = MakeTempDir("plan_refusals");
  ASSERT_FALSE(dir.empty());
  const std::string cut = FlatClip(3);
  WriteAll(dir + "two.y4m", FlatClip(2));
  WriteAll(dir + "one.y4m", FlatClip(1));
  WriteAll(dir + "none.y4m", FlatClip(0));
  WriteAll(dir + "cut.y4m", cut.substr(0, cut.size() - 5));
  WriteAll(dir + "yuv420.y4m",
           Y4m("YUV4MPEG2 W8 H6 F30000:1001 C420jpeg", 72, 2));  // 4:2:0 fields need whole chroma rows
  WriteAll(dir + "yuv444.y4m", Y4m("YUV4MPEG2 W8 H4 F30000:1001 C444", 96, 2));
  WriteAll(dir + "plan", "111");
  ExpectRefusals(dir, {
                          {"plan $D/yuv420.y4m", 1, "multiple of 4"},
                          {"plan $D/yuv444.y4m", 1, "C444"},
                          {"plan $D/cut.y4m", 1, "frame 2 (counting from 0) is truncated"},
                          {"plan $D/one.y4m", 1, "1 frame; a plan needs at least 2"},
                          {"plan $D/none.y4m", 1, "no frames; a plan needs at least 2"},
                          {"plan --raw 8x4 $D/plan", 1, "truncated"},
                          {"plan $D/missing.y4m", 1, "cannot open"},
                          {"plan --out $D/no/dir/p $D/two.y4m", 1, "cannot write"},
                          {"plan --timeline $D/no/dir/t.png $D/two.y4m", 1, "cannot write"},
                          {"plan $D/two.y4m $D/out", 2, "one INPUT"},
                          {"plan --plan $D/plan $D/two.y4m", 2, "takes --out"},
                          {"plan --timecodes $D/t $D/two.y4m", 2, "belongs to the render"},
                          {"plan --chroma-out 420 $D/two.y4m", 2, "belongs to the render"},
                          {"plan --field-order up $D/two.y4m", 2, "--field-order wants tff or bff"},
                          {"plan --source-frames coded $D/two.y4m", 2, "--source-frames is for sources read"},
                          {"plan --out $D/same --timeline $D/same $D/two.y4m", 2, "two different"},
                          {"--explain --plan $D/plan $D/two.y4m", 2, "belongs to zemivtc plan"},
                          {"--rate 0/1 --plan $D/plan $D/two.y4m", 2, "--rate wants N/D"},
                          {"--rate 24000 --plan $D/plan $D/two.y4m", 2, "--rate wants N/D"},
                          {"--rate 24000/1001 --raw-out --plan $D/plan $D/two.y4m", 2, "--raw-out"},
                          {"--info --timecodes $D/t --plan $D/plan $D/two.y4m", 2, "--info renders nothing"},
                          {"--timecodes $D/t --plan <(cat $D/plan) $D/two.y4m $D/out.y4m", 1, "regular file"},
                          {"--timecodes $D/plan --plan $D/plan $D/two.y4m $D/out.y4m", 1, "it is the plan"},
                          {"plan --out $D/two.y4m $D/two.y4m", 1, "it is the input"},
                          {"--timecodes $D/two.y4m --plan $D/plan $D/two.y4m $D/out.y4m", 2, "a file of its own"},
                      });
  std::system(("rm -rf " + dir).c_str());
}

TEST(PlanRender, RateChangesTheHeaderOnlyAndTimecodesFollowThePlan) {
  const std::string dir = MakeTempDir("plan_rate");
  ASSERT_FALSE(dir.empty());
  WriteAll(dir + "in.y4m", testing_support::FlatClip(4));
  WriteAll(dir + "plan", "1x00001");  // positions 0 and 6; 'x' makes nothing
  struct Case {
    const char* rate;
    const char* header;
  } cases[] = {{"", "F60000:1001"}, {"--rate 24000/1001", "F24000:1001"}, {"--rate=30/1", "F30:1"}};
  std::string firstFrames;
  for (const Case& c : cases) {
    const CommandResult r =
        RunShell(dir, std::string("$Z -q ") + c.rate + " --timecodes $D/times --plan $D/plan $D/in.y4m $D/out.y4m");
    ASSERT_EQ(r.status, 0) << c.rate << r.err;
    const std::string out = ReadAll(dir + "out.y4m");
    const std::string header = out.substr(0, out.find('\n'));
    EXPECT_NE(header.find(std::string(" ") + c.header + " "), std::string::npos) << header;
    if (firstFrames.empty()) firstFrames = out.substr(header.size());
    EXPECT_EQ(out.substr(header.size()), firstFrames) << c.rate;
    EXPECT_EQ(ReadAll(dir + "times"), "# timecode format v2\n0.000000\n100.100000\n") << c.rate;
  }
  std::system(("rm -rf " + dir).c_str());
}

TEST(FieldMeasures, VectorSumsEqualPlainSumsForOddSizesAndFloors) {
  using analysis::FieldAnalyzer;
  std::mt19937 rng(20261208);  // fixed seed, printed on failure through the sizes
  const int sizes[][2] = {{16, 2}, {30, 7}, {64, 34}, {98, 67}, {130, 40}, {8, 5}, {200, 36}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    // Smooth pictures with noise and a comb, so that every measure takes
    // many values; extremes at the edges of the 16-bit sums.
    std::vector<uint8_t> a(w * h), b(w * h);
    for (int i = 0; i < w * h; ++i) {
      a[i] = static_cast<uint8_t>((i % w) * 3 + (i / w) * 5 + rng() % 24);
      b[i] = static_cast<uint8_t>(a[i] + rng() % 9 - 4 + ((i / w) % 2) * 30);
    }
    a[0] = 255;
    b[w] = 0;
    const int samples = w / FieldAnalyzer::Reduction;
    std::vector<uint16_t> ra(samples * h), rb(samples * h), plain(samples);
    for (int y = 0; y < h; ++y) {
      FieldAnalyzer::ReduceRow(a.data() + y * w, w, ra.data() + y * samples, true);
      FieldAnalyzer::ReduceRow(b.data() + y * w, w, rb.data() + y * samples, true);
      FieldAnalyzer::ReduceRow(a.data() + y * w, w, plain.data(), false);
      for (int x = 0; x < samples; ++x) {
        EXPECT_EQ(ra[y * samples + x], plain[x]) << w << "x" << h << " row " << y;
        EXPECT_EQ(ra[y * samples + x],
                  a[y * w + 4 * x] + a[y * w + 4 * x + 1] + a[y * w + 4 * x + 2] + a[y * w + 4 * x + 3]);
      }
    }
    const int cols = (samples + FieldAnalyzer::BlockSamples - 1) / FieldAnalyzer::BlockSamples;
    const int rows = std::max(1, (h / 2 + 15) / 16);
    for (const uint16_t* previous : {static_cast<const uint16_t*>(ra.data()), static_cast<const uint16_t*>(nullptr)})
      for (int br = 0; br < rows; ++br) {
        std::vector<FieldAnalyzer::FrameSums> fastFrame(cols), plainFrame(cols);
        std::vector<FieldAnalyzer::PairSums> fastPair(cols), plainPair(cols);
        FieldAnalyzer::MeasureBlockRow(previous, rb.data(), samples, samples, h, br, fastFrame.data(), fastPair.data(),
                                       true);
        FieldAnalyzer::MeasureBlockRow(previous, rb.data(), samples, samples, h, br, plainFrame.data(),
                                       plainPair.data(), false);
        for (int c = 0; c < cols; ++c) {
          const auto& f = fastFrame[c];
          const auto& g = plainFrame[c];
          EXPECT_EQ(f.selfTop, g.selfTop) << w << "x" << h << " block " << br << "," << c;
          EXPECT_EQ(f.selfBottom, g.selfBottom) << w << "x" << h;
          EXPECT_EQ(f.weave, g.weave) << w << "x" << h;
          if (!previous) continue;
          const auto& p = fastPair[c];
          const auto& q = plainPair[c];
          EXPECT_EQ(p.weaveTopFirst, q.weaveTopFirst) << w << "x" << h;
          EXPECT_EQ(p.weaveBottomFirst, q.weaveBottomFirst) << w << "x" << h;
          EXPECT_EQ(p.changeTop, q.changeTop) << w << "x" << h;
          EXPECT_EQ(p.changeBottom, q.changeBottom) << w << "x" << h;
        }
      }
  }
}

TEST(Png, ChecksumsMatchTheirPublishedCheckValuesAndFfmpegDecodesEveryPixel) {
  const std::string digits = "123456789", word = "Wikipedia";
  EXPECT_EQ(stream::Crc32(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xCBF43926u);
  EXPECT_EQ(stream::Adler32(reinterpret_cast<const uint8_t*>(word.data()), word.size()), 0x11E60398u);
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("png");
  // Noise (every literal), runs of every length up to past 258 and rows
  // repeating the one above, at a few sizes.
  std::mt19937 rng(77);
  const int sizes[][2] = {{1, 1}, {7, 3}, {300, 9}, {1000, 30}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < rgb.size();) {
      const size_t run = std::min<size_t>(rgb.size() - i, rng() % 300 + 1);
      const uint8_t value = static_cast<uint8_t>(rng());
      for (size_t k = 0; k < run; ++k) rgb[i + k] = rng() % 4 ? value : static_cast<uint8_t>(rng());
      i += run;
    }
    if (h > 2) std::copy(rgb.begin(), rgb.begin() + 3 * w, rgb.begin() + 3 * w);
    for (stream::PngEffort effort : {stream::PngEffort::Small, stream::PngEffort::Fast, stream::PngEffort::Stored}) {
      WriteAll(dir + "p.png", stream::EncodePng(w, h, rgb, effort));
      const CommandResult r = RunShell(dir, "ffmpeg -v error -y -i $D/p.png -f rawvideo -pix_fmt rgb24 $D/p.rgb");
      ASSERT_EQ(r.status, 0) << w << "x" << h << " " << r.err;
      EXPECT_TRUE(ReadAll(dir + "p.rgb") == std::string(rgb.begin(), rgb.end()))
          << w << "x" << h << " effort " << static_cast<int>(effort);
    }
  }
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
