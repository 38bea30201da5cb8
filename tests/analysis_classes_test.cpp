// zemivtc plan on the footage classes (tests/footage_classes.h): grain on
// every pixel and in clumps, MPEG-2 and x264 encodes, fades and a dissolve,
// a near-still grainy shot, held drawings, bottom field first, film with
// video and progressive frames, cuts at odd fields. Every class's plan gives
// the recoverable film frames byte for byte, each once, with no combed frame
// and as many as the best of ffmpeg's three chains, within room for the worst
// seed seen; its render matches what the plan says field by field. Then the field
// order: from --field-order, from the header, and from the footage when the
// header does not say.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analysis/field_measures.h"
#include "analysis/field_order.h"
#include "tests/command_line.h"
#include "tests/footage_classes.h"

namespace {

using testing_support::CommandResult;
using testing_support::HaveFfmpeg;
using testing_support::MakeTempDir;
using testing_support::ReadAll;
using testing_support::RunShell;

class PlanClass : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
    dir = MakeTempDir("plan_class_" + GetParam());
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    if (!dir.empty() && !HasFailure()) std::system(("rm -rf " + dir).c_str());
  }
  std::string dir;
};

TEST_P(PlanClass, RecoversTheFilmFramesOnceWithNoCombedFrameAndAtLeastAsManyAsFfmpeg) {
  const std::string name = GetParam();
  const footage::ClassTruth truth = footage::MakeClass(dir, name);
  ASSERT_GT(truth.recoverable.size(), 60u);
  CommandResult r = RunShell(dir, "$Z plan --out $D/plan $D/" + name + ".y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string plan = ReadAll(dir + "plan");
  ASSERT_EQ(plan.size(), static_cast<size_t>(2 * truth.frames - 1));
  const footage::ClassScore ours = footage::ScorePlan(truth, plan);
  std::printf("%-10s zemivtc plan: %s\n", name.c_str(), ours.Line().c_str());
  // Over seeds 1 to 20 (bench/plan_seeds.sh) the plan misses at most one frame by each measure, at an edit it
  // misjudges (x264 74 of 75 and a duplicate, cuts 85 of 86, mixed a combed video frame), but drawings: 112 of 114,
  // 4 combed and 2 behind fieldmatch at seed 9 (drawings held over a pan of a pixel a frame read as one picture).
  const int room = name == "drawings" ? 6 : 2;
  EXPECT_GE(ours.exact + room, ours.recoverable) << ours.Line();
  EXPECT_LE(ours.duplicates, room) << ours.Line();
  EXPECT_LE(ours.combed, room) << ours.Line();
  for (const auto& chain : footage::FfmpegChains(truth.bottomFirst)) {
    const footage::ClassScore theirs = footage::ScoreFfmpegChain(truth, dir + name + ".y4m", chain.second);
    std::printf("%-10s %s: %s\n", name.c_str(), chain.first.c_str(), theirs.Line().c_str());
    EXPECT_GE(ours.exact + room, theirs.exact) << chain.first;
  }

  // The report's render line: the film's own rate for film alone, the
  // frames' own times where film and video mix.
  bool mixed = false;
  for (const footage::FieldTruth& f : truth.fields) mixed |= f.kind != footage::Kind::Film;
  EXPECT_NE(r.err.find(mixed ? "--timecodes" : "--rate 24000/1001"), std::string::npos) << r.err;

  // The module renders the plan as scored: every output frame's fields,
  // in either field order.
  r = RunShell(dir, "$Z -q --plan $D/plan $D/" + name + ".y4m $D/out.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  std::FILE* out = std::fopen((dir + "out.y4m").c_str(), "rb");
  ASSERT_NE(out, nullptr);
  const footage::ClassScore rendered = footage::ScoreY4mStream(truth, out);
  std::fclose(out);
  EXPECT_EQ(rendered.Line(), ours.Line());
}

INSTANTIATE_TEST_SUITE_P(Footage, PlanClass, ::testing::ValuesIn(footage::ClassNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// Drawings held on twos and threes, coded by x264: a held drawing's fields
// then differ by what the encode did to each frame, as little as a telecine
// repeat does; read as changes, they made three-field pictures look dear
// and whole stretches came out as 2:2 with a combed frame at every drawing.
// Over seeds 301 to 320 the worst was 109 of 115 exact (314) and 7 combed
// (312) before the repeats were read block by block and the pairings by
// their direction, and is now 112 of 115 exact (315) and 1 combed (310);
// the bounds hold with room. Seed 312 (7 combed then) must give none. Seed
// 304 left its last field out, and with it the film frame of the clip's
// last two fields, until a lone last field cost what a lone first one does;
// all its film frames but one must come out exact.
TEST(PlanEncodedDrawings, HeldDrawingsCodedByX264KeepTheirTelecineCadence) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("plan_drawings_x264");
  ASSERT_FALSE(dir.empty());
  for (uint32_t seed : {301u, 303u, 304u, 312u}) {
    footage::Variant v;
    v.seed = seed;
    v.phase = static_cast<int>(seed % 10);
    v.encode = "x264";
    const footage::ClassTruth truth = footage::MakeClass(dir, "drawings", v);
    const CommandResult r = RunShell(dir, "$Z plan --out $D/plan $D/drawings.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const footage::ClassScore s = footage::ScorePlan(truth, ReadAll(dir + "plan"));
    EXPECT_GE(s.exact * 100, s.recoverable * 95) << seed << ": " << s.Line();
    EXPECT_LE(s.combed, 3) << seed << ": " << s.Line();
    if (seed == 312) {
      EXPECT_EQ(s.combed, 0) << s.Line();
    }
    if (seed == 304) {
      EXPECT_GE(s.exact + 1, s.recoverable) << s.Line();
    }
  }
  std::system(("rm -rf " + dir).c_str());
}

// Grainy shots coded by interlaced x264, where a telecine repeat differs
// from its original by little less than the other fields do: before the
// repeats were read block by block and pooled by their phase of 5, the
// near-still shot of seed 306 gave 12 combed frames and the clumped grain
// of seed 315 4 (6 with the repeats read block by block alone). Seed 311's
// telecined frames coded by x264 as progressive ones gave 18 before the
// repeats by phase outweighed the coded frames' pairings, and seed 317's 7
// (a slow shot after a fast one, the cut between them missed) before
// stretches ended at a change of level and phases were read within shots;
// the clean mixed clip of seed 306 gave 5 when its video took the film's
// repeats by phase. Seed 305's last film frame before a cut came out
// twice while a cadence could end early at the cut's price. The near-still
// shot of seed 319 gave 2 at its start, where x264 had smoothed the grain
// away, before a phase read surely vouched for the repeats there. Held
// drawings (whole: every frame exact): seed 310 wove two fields an edit had
// cut short, 304 rebuilt a drawing's second showing before a cut, and 311
// rebuilt the first field beside the picture it repeats. Telecined frames
// coded as progressive ones (seed 304) ended the cadence three fields
// before a cut, where the last fields pair by the coded frames, and wove
// one frame of two pictures there.
TEST(PlanEncodedGrain, GrainAfterAnEncodeAndVideoBesideFilmGiveNoCombedFrameAndNoDuplicate) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("plan_grain_x264");
  ASSERT_FALSE(dir.empty());
  struct Case {
    std::string name;
    uint32_t seed;
    std::string encode;
    bool whole = false;
  };
  for (const Case& c :
       {Case{"nearstill", 306, "x264"}, Case{"clumped", 315, "x264"}, Case{"clumped", 311, "x264p"},
        Case{"clumped", 317, "x264p"}, Case{"clumped", 305, "x264p"}, Case{"mixed", 306, "none"},
        Case{"nearstill", 319, "x264"}, Case{"drawings", 310, "x264", true}, Case{"drawings", 304, "x264", true},
        Case{"drawings", 311, "x264", true}, Case{"clumped", 304, "x264p", true}}) {
    const std::string& name = c.name;
    footage::Variant v;
    v.seed = c.seed;
    v.phase = static_cast<int>(c.seed % 10);
    v.encode = c.encode;
    const footage::ClassTruth truth = footage::MakeClass(dir, name, v);
    const CommandResult r = RunShell(dir, "$Z plan --out $D/plan $D/" + name + ".y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const footage::ClassScore s = footage::ScorePlan(truth, ReadAll(dir + "plan"));
    EXPECT_EQ(s.combed, 0) << name << " " << c.seed << ": " << s.Line();
    EXPECT_EQ(s.duplicates, 0) << name << " " << c.seed << ": " << s.Line();
    EXPECT_GE(s.exact * 100, s.recoverable * 97) << name << " " << c.seed << ": " << s.Line();
    if (c.whole) {
      EXPECT_EQ(s.exact, s.recoverable) << name << " " << c.seed << ": " << s.Line();
    }
  }
  std::system(("rm -rf " + dir).c_str());
}

// The frames of the stream as they are (every even position): on a moving
// grainy shot the two of every five that weave two film frames comb as a
// viewer sees; in the near-still shot of seed 303 after interlaced x264
// (its first 180 fields), which coded each frame's fields as one picture,
// none does, though as many are woven from two pictures.
TEST(FootageScore, CombingIsTheCombAViewerSeesNotTheTwoPicturesAnEncodeMerged) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("footage_combing");
  ASSERT_FALSE(dir.empty());
  for (const bool merged : {false, true}) {
    footage::Variant v;
    v.seed = merged ? 303 : 1;
    v.phase = merged ? 3 : 0;
    v.encode = merged ? "x264" : "none";
    const std::string name = merged ? "nearstill" : "grain6";
    const footage::ClassTruth truth = footage::MakeClass(dir, name, v);
    std::string frames(2 * truth.frames - 1, '0');
    for (size_t p = 0; p < (merged ? 160 : frames.size()); p += 2) frames[p] = '1';
    const footage::ClassScore s = footage::ScorePlan(truth, frames, dir + name + ".y4m");
    EXPECT_GE(s.combed * 10, s.outputs * 3) << name << ": " << s.Line();
    EXPECT_EQ(s.combing, merged ? 0 : s.combed) << name << ": " << s.Line();
  }
  std::system(("rm -rf " + dir).c_str());
}

// A small clip of one class in either order, its header saying the order,
// another order or nothing (the same bytes under another header), planned
// with and without --field-order.
TEST(PlanFieldOrder, TheOptionTheHeaderOrTheFootageDecidesAndTheReportSaysWhich) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("plan_order");
  ASSERT_FALSE(dir.empty());
  footage::ClassTruth truth[2];
  std::string clip[2];
  for (int order : {0, 1}) {
    footage::Variant v;
    v.width = 256;
    v.height = 160;
    v.order = order;
    truth[order] = footage::MakeClass(dir, "bff", v);
    clip[order] = ReadAll(dir + "bff.y4m");
    ASSERT_NE(clip[order].find(order ? " Ib " : " It "), std::string::npos);
  }
  // The clip of `order` with its header's I tag replaced.
  auto withHeader = [&](int order, char tag) {
    std::string c = clip[order];
    c[c.find(order ? " Ib " : " It ") + 2] = tag;
    return c;
  };
  struct Case {
    int order;
    char header;
    const char* option;
    const char* says;  // in the report's field order line
    bool warns;        // the footage says the other order
  } cases[] = {
      {1, 'b', "", "bottom field first (the header's Ib)", false},
      {0, 't', "", "top field first (the header's It)", false},
      {1, 'p', "", "bottom field first (measured: the header says Ip", false},
      {0, 'p', "", "top field first (measured: the header says Ip", false},
      {0, 't', "--field-order bff", "bottom field first (--field-order)", true},
      {1, 't', "", "top field first (the header's It)", true},
      {1, 'p', "--field-order bff", "bottom field first (--field-order)", false},
  };
  std::string statedPlan[2];
  for (const Case& c : cases) {
    testing_support::WriteAll(dir + "in.y4m", withHeader(c.order, c.header));
    const CommandResult r = RunShell(dir, std::string("$Z plan ") + c.option + " --out $D/plan $D/in.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("warning: the footage looks") != std::string::npos, c.warns) << r.err;
    // The render line names every order that the render would not take
    // from the header by itself.
    // (A plan of whole frames alone, as the wrong order makes of film, needs
    // none.)
    const bool bottom = std::string(c.says).compare(0, 6, "bottom") == 0;
    if ((c.header == 'p' || *c.option) && r.err.find("field order: does not matter") == std::string::npos)
      EXPECT_NE(r.err.find(std::string("/plan --field-order ") + (bottom ? "bff " : "tff ")), std::string::npos)
          << r.err;
    else
      EXPECT_EQ(r.err.find("/plan --field-order"), std::string::npos) << r.err;
    const std::string plan = ReadAll(dir + "plan");
    if (c.warns) continue;
    // Measured or stated, the right order recovers the film (all 86 frames at
    // each of 20 seeds), and measured it gives the plan the stated order gives.
    const footage::ClassScore s = footage::ScorePlan(truth[c.order], plan);
    EXPECT_GE(s.exact + 2, s.recoverable) << c.order << c.header << " " << s.Line();
    if (c.header != 'p' || *c.option) {
      if (!*c.option) statedPlan[c.order] = plan;
      continue;
    }
    EXPECT_EQ(plan, statedPlan[c.order]) << c.order;
    // The render of a file measures the order by the same rule and weaves
    // the film frames whole; from a pipe it cannot, and says so.
    const CommandResult render =
        RunShell(dir,
                 "$Z -q --plan $D/plan $D/in.y4m $D/out.y4m && $Z --info --plan $D/plan $D/in.y4m > $D/file && "
                 "cat $D/in.y4m | $Z --info --plan $D/plan - > $D/pipe");
    ASSERT_EQ(render.status, 0) << render.err;
    // ... and reports it in the plan's words, votes included.
    const size_t from = r.err.find("field order: ") + 13;
    const std::string planSays = r.err.substr(from, r.err.find('\n', from) - from);
    EXPECT_NE(ReadAll(dir + "file").find("field_order: " + planSays + "\n"), std::string::npos)
        << planSays << "\n"
        << ReadAll(dir + "file");
    EXPECT_NE(ReadAll(dir + "pipe")
                  .find("field_order: top field first (assumed: the header says Ip; a pipe cannot be "
                        "read ahead to measure the order)"),
              std::string::npos)
        << ReadAll(dir + "pipe");
    std::FILE* out = std::fopen((dir + "out.y4m").c_str(), "rb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(footage::ScoreY4mStream(truth[c.order], out).Line(), s.Line());
    std::fclose(out);
  }
  std::system(("rm -rf " + dir).c_str());
}

// Progressive frames weave alike in both orders: no verdict, and the plan
// says so rather than guess; a start of the stream decides as the whole does.
TEST(PlanFieldOrder, ProgressiveFootageHasNoVerdictAndTheStartOfAStreamDecidesAsTheWhole) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = MakeTempDir("plan_order_start");
  ASSERT_FALSE(dir.empty());
  CommandResult r = RunShell(dir,
                             "ffmpeg -v error -f lavfi -i mandelbrot=size=192x128:rate=30000/1001 -frames:v 60 "
                             "-pix_fmt yuv422p -f yuv4mpegpipe $D/p.y4m && $Z plan --out $D/plan $D/p.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("top field first (assumed: the header says Ip; the footage shows no order)"), std::string::npos)
      << r.err;
  // The render of a plan that weaves stops reading at a progressive start
  // (a picture scrolling across), and still footage after at most
  // RenderFieldOrderFrames.
  r = RunShell(dir,
               "printf 1001 > $D/weave && ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=30000/1001 -vf "
               "scroll=h=0.01 -frames:v 60 -pix_fmt yuv422p -f yuv4mpegpipe $D/m.y4m && $Z --info --plan $D/weave "
               "$D/m.y4m > $D/moving && ffmpeg -v error -f lavfi -i color=size=64x32:rate=30000/1001 -frames:v 200 "
               "-pix_fmt yuv422p -f yuv4mpegpipe $D/s.y4m && $Z --info --plan $D/weave $D/s.y4m > $D/still");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadAll(dir + "moving").find(" frames show progressive pictures, which weave alike in both orders)"),
            std::string::npos)
      << ReadAll(dir + "moving");
  EXPECT_NE(ReadAll(dir + "still").find("; its first 150 frames show no order)"), std::string::npos)
      << ReadAll(dir + "still");

  footage::Variant v;
  v.width = 192;
  v.height = 128;
  v.order = 1;
  v.headerOrder = 'p';
  footage::MakeClass(dir, "bff", v);
  std::vector<std::string> frames = footage::ReadY4mFrames(dir + "bff.y4m");
  ASSERT_GT(frames.size(), 40u);
  analysis::FieldAnalyzer whole(192, 128);
  for (const std::string& f : frames) whole.AddFrame(reinterpret_cast<const uint8_t*>(f.data()), 192);
  const double samples = whole.FieldSamples();
  const analysis::FieldAnalyzer::Result all = whole.Finish();
  const analysis::FieldOrderVerdict verdict = analysis::MeasureFieldOrder(all, samples);
  ASSERT_TRUE(verdict.known);
  EXPECT_EQ(verdict.order, analysis::FieldOrder::BottomFirst);
  ASSERT_GE(verdict.decidedAtFrame, 0);
  // A reader that stops at the decision: the frames up to it only.
  analysis::FieldAnalyzer start(192, 128);
  for (int k = 0; k <= verdict.decidedAtFrame + 1; ++k)
    start.AddFrame(reinterpret_cast<const uint8_t*>(frames[k].data()), 192);
  const analysis::FieldAnalyzer::Result part = start.Finish();
  analysis::FieldOrderProbe probe(samples);
  const std::vector<analysis::PositionMeasures>& top = part.In(analysis::FieldOrder::TopFirst);
  for (size_t p = 1; p + 1 < top.size() && !probe.Decided(); p += 2)
    probe.Add(top[p - 1], top[p], part.In(analysis::FieldOrder::BottomFirst)[p], top[p + 1]);
  EXPECT_TRUE(probe.Decided());
  EXPECT_EQ(probe.Final().order, verdict.order);
  EXPECT_EQ(probe.Final().decidedAtFrame, verdict.decidedAtFrame);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
