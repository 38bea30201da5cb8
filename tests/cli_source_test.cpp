// The command on sources read through FFMS2, as a user runs it on a DVD's
// VOB: `zemivtc plan --review` and the render straight from the file, with
// no Y4M written, give the plan and the frames they give from ffmpeg's Y4M
// decode of it; soft-telecined MPEG-2 comes back as its film frames.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/command_line.h"
#include "tests/footage.h"

namespace {

using testing_support::HaveFfmpeg;
using testing_support::ReadAll;
using testing_support::RunShell;

// MPEG-2 with the same bytes on every x86-64 processor.
const std::string Mpeg2 = "-c:v mpeg2video -threads 1 -dct int -idct simple -flags +bitexact -b:v 4M -g 12 ";

TEST(CliSources, PlanReviewAndRenderFromAVobAreThoseOfItsY4mDecode) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const std::string dir = testing_support::MakeTempDir("cli_sources");
  using footage::Ffmpeg;
  // 3:2 telecined film coded interlaced, top field first, in a program
  // stream; and progressive film with soft-telecine flags.
  footage::Run(Ffmpeg("-f lavfi -i testsrc2=size=320x240:rate=24000/1001",
                      "-frames:v 96 -vf telecine,setfield=tff -pix_fmt yuv420p " + Mpeg2 +
                          "-flags +ilme+ildct+bitexact -bf 2 -f vob " + dir + "dvd.vob"));
  footage::Run(Ffmpeg("-f lavfi -i testsrc2=size=320x240:rate=24000/1001",
                      "-frames:v 48 -pix_fmt yuv420p " + Mpeg2 + "-bf 0 -f mpeg2video " + dir + "film.m2v"));
  footage::SoftTelecine(dir + "film.m2v", dir + "soft.m2v");
  footage::Run(Ffmpeg("-i " + dir + "soft.m2v", "-c copy -f vob " + dir + "soft.vob"));
  const struct {
    const char* clip;
    const char* options;
    const char* filters;  // what ffmpeg applies to show the same frames
    const char* report;   // in the plan's report
  } cases[] = {
      {"dvd.vob", "", "", "96 coded frames as a player shows them: no repeat-first-field flags"},
      {"soft.vob", "", "-vf repeatfields", "flags applied (soft telecine), 24 fields repeated"},
      {"soft.vob", " --source-frames coded", "", "soft.vob.zem --source-frames coded --rate 30000/1001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.clip) + c.options);
    const std::string clip = std::string("$D/") + c.clip, opts = c.options;
    // From the file, its index cached in the test's folder: the plan and
    // its review write no Y4M, the render only its output.
    const testing_support::CommandResult plan =
        RunShell(dir, "export XDG_CACHE_HOME=$D/cache; rm -rf $D/review; $Z plan -q --review $D/review --out " + clip +
                          ".zem" + opts + " " + clip);
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_NE(plan.err.find(std::string(c.report)), std::string::npos) << plan.err;
    EXPECT_TRUE(std::filesystem::exists(dir + "review/index.html"));
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir))
      EXPECT_NE(f.path().extension(), ".y4m") << f.path() << " written from " << c.clip;
    ASSERT_EQ(RunShell(dir, "export XDG_CACHE_HOME=$D/cache; $Z -q --plan " + clip + ".zem" + opts + " " + clip +
                                " $D/from-source.y4m")
                  .status,
              0);
    // From ffmpeg's decode.
    ASSERT_EQ(RunShell(dir, "ffmpeg -v error -y -i " + clip + " " + c.filters +
                                " -fps_mode passthrough -f yuv4mpegpipe $D/decoded.y4m && $Z plan -q --out $D/y4m.zem "
                                "$D/decoded.y4m && $Z -q --plan $D/y4m.zem $D/decoded.y4m $D/from-y4m.y4m")
                  .status,
              0);
    EXPECT_EQ(ReadAll(dir + c.clip + ".zem"), ReadAll(dir + "y4m.zem"));
    EXPECT_TRUE(ReadAll(dir + "from-source.y4m") == ReadAll(dir + "from-y4m.y4m"));
    if (opts.empty() && std::string(c.clip) == "soft.vob") {
      // Every film frame once, in order: the coded frames as decoded.
      ASSERT_EQ(
          RunShell(dir, "ffmpeg -v error -y -i $D/soft.vob -fps_mode passthrough -f yuv4mpegpipe $D/film.y4m").status,
          0);
      EXPECT_TRUE(footage::ReadY4mFrames(dir + "from-source.y4m") == footage::ReadY4mFrames(dir + "film.y4m"));
    }
    std::filesystem::remove(dir + "from-source.y4m");
    std::filesystem::remove(dir + "from-y4m.y4m");
    std::filesystem::remove(dir + "decoded.y4m");
    std::filesystem::remove(dir + "film.y4m");
  }
  // Formats other than 8-bit 4:2:0 and 4:2:2 are refused with the conversion.
  footage::Run(Ffmpeg("-f lavfi -i testsrc2=size=64x48", "-frames:v 4 -c:v ffv1 -pix_fmt yuv444p " + dir + "444.mkv"));
  testing_support::ExpectRefusals(dir, {{"plan $D/444.mkv", 1, "yuv444p, and only 8-bit 4:2:0 and 4:2:2 are read"},
                                        {"plan $D/444.mkv", 1, "-pix_fmt yuv420p -f yuv4mpegpipe"}});
  std::filesystem::remove_all(dir);
}

}  // namespace
