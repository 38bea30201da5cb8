// DVD-shaped video end to end with the programs users run, as the README
// shows them: film telecined and encoded as interlaced MPEG-2 4:2:0 (with
// AC-3 sound, in an MPEG program stream), decoded by ffmpeg, `zemivtc plan`
// and `zemivtc`, x264 (ffmpeg's libx264), mkvmerge with the plan's
// timecodes, and ffprobe reading back every frame's time. Each film frame
// must come out once, in order, at its own time to the millisecond; for
// the all-film plan, at the constant rate 24000/1001 as well.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/command_line.h"

namespace {

using testing_support::CommandResult;
using testing_support::ReadAll;

constexpr int Width = 320, Height = 240, FilmFrames = 48;

// The frames of a 4:2:0 Y4M file, each its planes as one string.
std::vector<std::string> Frames420(const std::string& path) {
  const std::string data = ReadAll(path);
  const size_t frameBytes = Width * Height * 3 / 2;
  std::vector<std::string> frames;
  size_t at = data.find('\n');
  while (at != std::string::npos && data.compare(at + 1, 5, "FRAME") == 0) {
    const size_t pixels = data.find('\n', at + 1) + 1;
    if (pixels + frameBytes > data.size()) break;
    frames.push_back(data.substr(pixels, frameBytes));
    at = pixels + frameBytes - 1;
  }
  return frames;
}

// Luma PSNR of two frames, in dB.
double LumaPsnr(const std::string& a, const std::string& b) {
  double sum = 0;
  for (size_t i = 0; i < static_cast<size_t>(Width) * Height; ++i) {
    const double d = static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * Width * Height / sum);
}

// Every frame's presentation time in seconds, as ffprobe reads it.
std::vector<double> FrameTimes(const std::string& text) {
  std::vector<double> times;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) times.push_back(std::stod(line));
  return times;
}

class DvdPipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing_support::MakeTempDir("dvd_pipeline");
    ASSERT_FALSE(dir.empty());
    const struct {
      const char* check;
      const char* missing;
    } tools[] = {
        {"ffmpeg -version && ffprobe -version", "ffmpeg is not installed; `make deps` installs it"},
        {"ffmpeg -hide_banner -encoders | grep -q libx264 && ffmpeg -hide_banner -encoders | grep -q mpeg2video",
         "this ffmpeg has no libx264 or mpeg2video encoder (Debian's ffmpeg has both)"},
        {"mkvmerge --version", "mkvmerge is not installed; `make deps` installs it (Debian's mkvtoolnix)"},
    };
    for (const auto& tool : tools)
      if (Run(std::string("{ ") + tool.check + "; } >/dev/null 2>&1").status != 0) GTEST_SKIP() << tool.missing;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  CommandResult Run(const std::string& commandLine) { return testing_support::RunShell(dir, commandLine); }

  // Checks the Matroska file's frames: one per film frame, each the film
  // frame of its index (closer to it than to its neighbours) at that film
  // frame's own time.
  void CheckFilm(const std::string& mkv, const std::vector<std::string>& film, const std::string& what) {
    CommandResult r =
        Run("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time "
            "-of default=noprint_wrappers=1:nokey=1 $D/" +
            mkv +
            " > $D/times.txt && "
            "ffmpeg -v error -y -i $D/" +
            mkv + " -fps_mode passthrough -f yuv4mpegpipe $D/back.y4m");
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    const std::vector<double> times = FrameTimes(ReadAll(dir + "times.txt"));
    ASSERT_EQ(times.size(), film.size()) << what;
    for (size_t i = 0; i < times.size(); ++i)
      EXPECT_NEAR(times[i], i * 1001.0 / 24000, 0.001) << what << ": film frame " << i;
    const std::vector<std::string> back = Frames420(dir + "back.y4m");
    ASSERT_EQ(back.size(), film.size()) << what;
    for (size_t i = 0; i < back.size(); ++i) {
      const double own = LumaPsnr(back[i], film[i]);
      EXPECT_GT(own, 35) << what << ": film frame " << i;
      if (i > 0) {
        EXPECT_GT(own, LumaPsnr(back[i], film[i - 1]) + 5) << what << ": film frame " << i;
      }
      if (i + 1 < film.size()) {
        EXPECT_GT(own, LumaPsnr(back[i], film[i + 1]) + 5) << what << ": film frame " << i;
      }
    }
  }

  std::string dir;
};

TEST_F(DvdPipeline, InterlacedMpeg2ToMatroskaGivesEveryFilmFrameAtItsOwnTime) {
  CommandResult r =
      Run("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=24000/1001 -frames:v 48 "
          "-sws_flags +bitexact+accurate_rnd+full_chroma_int -pix_fmt yuv420p -f yuv4mpegpipe $D/film.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> film = Frames420(dir + "film.y4m");
  ASSERT_EQ(film.size(), static_cast<size_t>(FilmFrames));
  // Both field orders; the decoded stream's header says which (It, Ib). The codecs as the footage's run them.
  for (const char* first : {"top", "bottom"}) {
    const std::string order = first;
    const std::string what = order + " field first";
    r =
        Run("ffmpeg -v error -y -i $D/film.y4m -f lavfi -i sine=frequency=440:sample_rate=48000 "
            "-vf telecine=pattern=23:first_field=" +
            order + " -c:v mpeg2video -threads 1 -dct int -idct simple -b:v 6M -maxrate 9M -bufsize 1835k " +
            "-flags +ilme+ildct+bitexact -top " + (order == "top" ? "1" : "0") +
            " -g 15 -c:a ac3 -b:a 192k -shortest -f vob $D/movie.vob");
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;

    // The README's commands.
    r =
        Run("set -e -o pipefail; cd $D\n"
            "ffmpeg -v error -y -idct simple -i movie.vob -f yuv4mpegpipe movie.y4m\n"
            "$Z plan --out movie.zem movie.y4m 2> plan.txt\n"
            "$Z --info --plan movie.zem movie.y4m > info.txt\n"
            "$Z -q --plan movie.zem --timecodes movie.tc movie.y4m - |\n"
            "  ffmpeg -v error -y -f yuv4mpegpipe -i - -c:v libx264 -threads 1 -x264-params asm=0 -preset veryfast "
            "-crf 16 video.mkv\n"
            "mkvmerge -q -o movie.mkv --timestamps 0:movie.tc video.mkv --no-video movie.vob\n");
    ASSERT_EQ(r.status, 0) << what << ": " << r.err << ReadAll(dir + "plan.txt");
    const std::string header = ReadAll(dir + "movie.y4m").substr(0, 80);
    EXPECT_NE(header.find(order == "top" ? " It " : " Ib "), std::string::npos) << header;
    EXPECT_NE(header.find(" C420mpeg2"), std::string::npos) << header;
    EXPECT_NE(ReadAll(dir + "info.txt")
                  .find("input: 320x240 4:2:0 (C420mpeg2)\nfield_order: " + what + " (the header's I" + order[0] +
                        ")\noutput: 4:2:0 (C420mpeg2)\n"),
              std::string::npos)
        << ReadAll(dir + "info.txt");
    CheckFilm("movie.mkv", film, what + ", timecodes");
    r =
        Run("ffprobe -v error -show_entries stream=codec_name -of default=noprint_wrappers=1:nokey=1 $D/movie.mkv "
            "> $D/streams.txt");
    EXPECT_EQ(ReadAll(dir + "streams.txt"), "h264\nac3\n") << what;

    // An all-film plan also plays right at the constant film rate.
    r =
        Run("set -e -o pipefail; cd $D\n"
            "$Z -q --plan movie.zem --rate 24000/1001 movie.y4m - |\n"
            "  ffmpeg -v error -y -f yuv4mpegpipe -i - -c:v libx264 -threads 1 -x264-params asm=0 -preset veryfast "
            "-crf 16 constant.mkv\n");
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    CheckFilm("constant.mkv", film, what + ", 24000/1001");
  }
}

}  // namespace
