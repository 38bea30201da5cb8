// The built zemivtc command run as users run it: exact frames out, the
// 60000/1001 header, every refusal with its status and no file left behind,
// and ffmpeg on either side of a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/timecodes.h"
#include "tests/command_line.h"

namespace {

const std::string Cli = ZEMIVTC_CLI_PATH;

using testing_support::CommandResult;
using testing_support::HaveFfmpeg;
using testing_support::ReadAll;
using testing_support::WriteAll;

class CliCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing_support::MakeTempDir("cli_command");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  // Runs a bash command line; $Z is the command, $D the test's directory.
  CommandResult Run(const std::string& commandLine) { return testing_support::RunShell(dir, commandLine); }

  std::string dir;
};

bool Is420(const std::string& color) { return color.empty() || color.compare(0, 4, "C420") == 0; }

size_t FrameBytes(int width, int height, const std::string& color) {
  return static_cast<size_t>(width) * height +
         2 * static_cast<size_t>(width / 2) * (Is420(color) ? height / 2 : height);
}

// A stream of random planar frames; frames[f] holds frame f's planes.
std::string RandomY4m(int width, int height, int count, std::vector<std::string>* frames,
                      const std::string& color = "C422", const std::string& interlace = "It") {
  std::mt19937 rng(1234);
  std::string s = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F30000:1001 " + interlace +
                  " A10:11 " + color + "\n";
  for (int f = 0; f < count; ++f) {
    std::string planes(FrameBytes(width, height, color), '\0');
    for (char& c : planes) c = static_cast<char>(rng());
    if (frames) frames->push_back(planes);
    s += "FRAME\n" + planes;
  }
  return s;
}

// The frame the command makes at a field position for code '1', in planar
// terms: at 2k source frame k; at 2k+1 frame k's second field and frame
// k+1's first, every plane's rows by their parity (4:2:2 chroma has every
// row; in 4:2:0 chroma rows alternate fields as luma rows do). Top field
// first, the even rows come from frame k+1; bottom field first, from k.
std::string ModelPosition(const std::vector<std::string>& frames, int width, int height, int position,
                          bool yuv420 = false, bool bottomFirst = false) {
  const int k = position / 2;
  if (position % 2 == 0) return frames[k];
  const std::string& even = frames[bottomFirst ? k : k + 1];
  const std::string& odd = frames[bottomFirst ? k + 1 : k];
  std::string out(even.size(), '\0');
  const int rowBytes[3] = {width, width / 2, width / 2};
  const int rows[3] = {height, yuv420 ? height / 2 : height, yuv420 ? height / 2 : height};
  size_t offset = 0;
  for (int plane = 0; plane < 3; ++plane) {
    for (int row = 0; row < rows[plane]; ++row) {
      const size_t at = offset + static_cast<size_t>(row) * rowBytes[plane];
      out.replace(at, rowBytes[plane], row % 2 == 0 ? even : odd, at, rowBytes[plane]);
    }
    offset += static_cast<size_t>(rowBytes[plane]) * rows[plane];
  }
  return out;
}

// Splits a Y4M file into its header line and frame payloads.
std::vector<std::string> SplitY4m(const std::string& data, size_t frameBytes, std::string* header) {
  const size_t eol = data.find('\n');
  *header = data.substr(0, eol);
  std::vector<std::string> frames;
  size_t at = eol + 1;
  while (at + 6 + frameBytes <= data.size() && data.compare(at, 6, "FRAME\n") == 0) {
    frames.push_back(data.substr(at + 6, frameBytes));
    at += 6 + frameBytes;
  }
  EXPECT_EQ(at, data.size()) << "trailing bytes after " << frames.size() << " frames";
  return frames;
}

TEST_F(CliCommand, CodeOneFramesAreExactFromFilesAndPipesWithThe60000Over1001Header) {
  const int w = 10, h = 6;
  std::vector<std::string> frames;
  WriteAll(dir + "in.y4m", RandomY4m(w, h, 5, &frames));
  WriteAll(dir + "plan", "1100011x1");  // positions 0, 1, 5, 6, 8; 'x' makes nothing
  const std::vector<int> positions = {0, 1, 5, 6, 8};
  for (const char* how :
       {"$Z -q --plan $D/plan $D/in.y4m $D/out.y4m", "cat $D/in.y4m | $Z -q --plan $D/plan - - > $D/out.y4m"}) {
    const CommandResult r = Run(how);
    ASSERT_EQ(r.status, 0) << how << ": " << r.err;
    std::string header;
    const std::vector<std::string> out = SplitY4m(ReadAll(dir + "out.y4m"), w * h * 2, &header);
    EXPECT_EQ(header, "YUV4MPEG2 W10 H6 F60000:1001 Ip A10:11 C422");
    ASSERT_EQ(out.size(), positions.size()) << how;
    for (size_t i = 0; i < positions.size(); ++i)
      EXPECT_EQ(out[i], ModelPosition(frames, w, h, positions[i])) << how << " output frame " << i;
  }

  // A plan longer than the input repeats the last frame, and says so.
  WriteAll(dir + "plan", "000000000001");
  const CommandResult r = Run("$Z -q --plan $D/plan $D/in.y4m $D/out.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
  std::string header;
  const std::vector<std::string> out = SplitY4m(ReadAll(dir + "out.y4m"), w * h * 2, &header);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], frames[4]);
}

// The field order comes from --field-order, else the header's It or Ib, else
// top first; 4:2:0 in any of its sitings goes out as 4:2:0 under the same
// tag. Every woven frame is its two fields, chroma rows included.
TEST_F(CliCommand, FieldOrderAndChromaFormatDecideTheWeaveAndTheOutput) {
  const int w = 10, h = 8;
  WriteAll(dir + "plan", "1100011x1");  // positions 0, 1, 5, 6, 8
  const std::vector<int> positions = {0, 1, 5, 6, 8};
  struct Case {
    const char* color;
    const char* interlace;
    const char* option;
    bool bottomFirst;
    const char* outColor;
    const char* order;
  } cases[] = {
      {"C422", "It", "", false, "C422", "top field first (the header's It)"},
      {"C422", "Ib", "", true, "C422", "bottom field first (the header's Ib)"},
      {"C422", "Ib", "--field-order tff", false, "C422", "top field first (--field-order)"},
      {"C420mpeg2", "Ip", "--field-order=bff", true, "C420mpeg2", "bottom field first (--field-order)"},
      {"C420jpeg", "It", "", false, "C420jpeg", "top field first (the header's It)"},
      {"C420paldv", "Ib", "", true, "C420paldv", "bottom field first (the header's Ib)"},
      {"C420", "Im", "", false, "C420", "top field first (assumed: the header says Im; the footage shows no order)"},
      {"", "", "", false, "C420jpeg", "top field first (assumed: the header has no I tag; the footage shows no order)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> frames;
    WriteAll(dir + "in.y4m", RandomY4m(w, h, 5, &frames, c.color, c.interlace));
    const CommandResult r = Run(std::string("$Z -q --plan $D/plan ") + c.option + " $D/in.y4m $D/out.y4m");
    ASSERT_EQ(r.status, 0) << c.color << " " << c.interlace << ": " << r.err;
    std::string header;
    const std::vector<std::string> out = SplitY4m(ReadAll(dir + "out.y4m"), frames[0].size(), &header);
    EXPECT_EQ(header, std::string("YUV4MPEG2 W10 H8 F60000:1001 Ip A10:11 ") + c.outColor);
    ASSERT_EQ(out.size(), positions.size()) << c.color << " " << c.interlace;
    for (size_t i = 0; i < positions.size(); ++i)
      EXPECT_TRUE(out[i] == ModelPosition(frames, w, h, positions[i], Is420(c.color), c.bottomFirst))
          << c.color << " " << c.interlace << " " << c.option << ": output frame " << i;
    ASSERT_EQ(Run(std::string("$Z --info --plan $D/plan ") + c.option + " $D/in.y4m > $D/info.txt").status, 0);
    const std::string format = std::string(Is420(c.color) ? "4:2:0 (" : "4:2:2 (") + c.outColor + ")";
    EXPECT_NE(ReadAll(dir + "info.txt").find(std::string("field_order: ") + c.order + "\noutput: " + format + "\n"),
              std::string::npos)
        << ReadAll(dir + "info.txt");
  }
}

// Turned over for a bottom-field-first source and back, a frame passed
// through ('1') or smoothed ('3') at an even position is itself again: such
// plans give the same bytes in either order, and the command measures
// nothing for them. Any other code, or any code at an odd position, gives
// other frames in the other order.
TEST_F(CliCommand, OnlyWholeOrSmoothedFramesAtEvenPositionsAreTheSameInEitherFieldOrder) {
  const struct {
    const char* plan;
    bool matters;
  } plans[] = {{"10301x3\n1", false}, {"11301x3\n1", true}, {"10331x3\n1", true}, {"1030143\n1", true},
               {"20301x3\n1", true},  {"40301x3\n1", true}, {"50301x3\n1", true}, {"60301x3\n1", true}};
  const char* formats[] = {"C422", "C420mpeg2", "raw"};
  for (const char* format : formats) {
    const bool raw = format == std::string("raw");
    std::vector<std::string> frames;
    WriteAll(dir + "in.y4m", RandomY4m(10, 8, 5, &frames, raw ? "C422" : format, "Ip"));
    std::string packed;  // the same bytes read as yuyv422
    for (const std::string& f : frames) packed += f;
    WriteAll(dir + "in.raw", packed);
    const std::string io = raw ? "--raw 10x8 --raw-out $D/in.raw" : "$D/in.y4m";
    for (const auto& c : plans) {
      WriteAll(dir + "plan", c.plan);
      const std::string what = std::string(format) + " " + c.plan;
      for (const char* order : {"tff", "bff"}) {
        const CommandResult r =
            Run("$Z -q --plan $D/plan --field-order " + std::string(order) + " " + io + " $D/" + order + ".out");
        ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      }
      EXPECT_EQ(ReadAll(dir + "tff.out") == ReadAll(dir + "bff.out"), !c.matters) << what;
      ASSERT_EQ(Run("$Z --info --plan $D/plan " + io + " > $D/info.txt").status, 0) << what;
      EXPECT_EQ(ReadAll(dir + "info.txt").find("field_order: does not matter for this plan\n") != std::string::npos,
                !c.matters)
          << what << "\n"
          << ReadAll(dir + "info.txt");
    }
  }
}

// The progress line, shown when standard error is a terminal (here the
// pseudo-terminal of util-linux's `script`), names the formats.
TEST_F(CliCommand, ProgressLineNamesTheFormats) {
  if (Run("script --version >/dev/null 2>&1").status != 0) GTEST_SKIP() << "util-linux's script is not installed";
  WriteAll(dir + "in.y4m", RandomY4m(10, 8, 5, nullptr, "C420paldv", "Ib"));
  WriteAll(dir + "plan", "1100011x1");
  const CommandResult r =
      Run("script -qefc \"$Z --plan $D/plan --chroma-out 422 $D/in.y4m $D/out.y4m\" /dev/null > $D/tty.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadAll(dir + "tty.txt").find("zemivtc: 4:2:0 (C420paldv) bff to 4:2:2 (C422)  frame 5/5"),
            std::string::npos)
      << ReadAll(dir + "tty.txt");
}

// 4:2:0 to 4:2:2 puts each field's chroma row on both of its rows; 4:2:2
// back to 4:2:0 takes the mean of those two rows, which gives the 4:2:0
// frames again, woven ones included.
TEST_F(CliCommand, ChromaOutConvertsFieldByFieldAndBackExactly) {
  const int w = 10, h = 8;
  WriteAll(dir + "plan", "1100011x1");
  WriteAll(dir + "even", "101010101");
  const std::vector<int> positions = {0, 1, 5, 6, 8};
  for (const bool bottomFirst : {false, true}) {
    std::vector<std::string> frames;
    WriteAll(dir + "in.y4m", RandomY4m(w, h, 5, &frames, "C420mpeg2", bottomFirst ? "Ib" : "It"));
    CommandResult r = Run("$Z -q --plan $D/plan --chroma-out 422 $D/in.y4m $D/out422.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string header;
    const std::vector<std::string> wide = SplitY4m(ReadAll(dir + "out422.y4m"), w * h * 2, &header);
    EXPECT_EQ(header.substr(header.size() - 5), " C422");
    ASSERT_EQ(wide.size(), positions.size());
    std::vector<std::string> model;
    for (size_t i = 0; i < positions.size(); ++i) {
      model.push_back(ModelPosition(frames, w, h, positions[i], true, bottomFirst));
      for (int plane = 0; plane < 2; ++plane)
        for (int row = 0; row < h; ++row) {
          // Rows 4i+f and 4i+f+2 of field f carry its chroma row 2i+f.
          const int chromaRow = 2 * (row / 4) + row % 2;
          const size_t from = w * h + plane * (w / 2) * (h / 2) + chromaRow * (w / 2);
          const size_t to = w * h + plane * (w / 2) * h + row * (w / 2);
          EXPECT_EQ(wide[i].substr(to, w / 2), model[i].substr(from, w / 2))
              << "bff " << bottomFirst << " frame " << i << " plane " << plane << " row " << row;
        }
    }
    r = Run(std::string("$Z -q --plan $D/even --chroma-out 420 ") + (bottomFirst ? "--field-order bff " : "") +
            "$D/out422.y4m $D/back.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> back = SplitY4m(ReadAll(dir + "back.y4m"), frames[0].size(), &header);
    EXPECT_EQ(header.substr(header.size() - 5), " C420");
    EXPECT_TRUE(back == model) << "bff " << bottomFirst;
  }
}

// Telecined film gets the film's even times; video fields, progressive
// frames and anything without two whole cycles of a film cadence start at
// their positions. Times rise, and none is a field or more from its position.
TEST(CliTimecodes, FilmStretchesGetEvenTimesAndTheRestTheirPositions) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const double field = 1001.0 / 60;
  const struct {
    std::string plan;
    std::vector<int> filmFrames;   // output frames [first, last] with even film times, or none
    double firstFilmTime, period;  // in fields
  } cases[] = {
      {repeat("1010010010", 3), {0, 11}, 0, 2.5},     // 3:2: positions 0 2 5 8, film times 0 2.5 5 7.5
      {repeat("1010001010", 3), {0, 11}, 0.25, 2.5},  // 2:3:3:2 picking frame 3: 0 2 6 8, centred
      // 2:3:3:2 from its second 2: the line puts frame 0 a quarter field
      // before the clip's start, so it keeps its position's time, 0.
      {repeat("1010100010", 3), {1, 11}, 2.25, 2.5},
      {repeat("101001010010", 2), {0, 9}, 0, 2.4},                          // 3:2:3:2:2: 0 2 5 7 10
      {"1010010010", {}, 0, 0},                                             // one cycle: too little to tell
      {repeat("2", 30), {}, 0, 0},                                          // video
      {repeat("10", 15), {}, 0, 0},                                         // progressive
      {"10101010222" + repeat("1010010010", 3) + "222", {7, 18}, 11, 2.5},  // progressive, video, film, video
  };
  for (const auto& c : cases) {
    std::istringstream text(cli::TimecodesText(c.plan));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "# timecode format v2");
    std::vector<int> positions;
    for (size_t p = 0; p < c.plan.size(); ++p)
      if (c.plan[p] != '0') positions.push_back(static_cast<int>(p));
    double previous = -1;
    for (size_t n = 0; n < positions.size(); ++n) {
      ASSERT_TRUE(std::getline(text, line)) << c.plan << ": " << n << " times";
      const double t = std::stod(line);
      const bool inFilm =
          !c.filmFrames.empty() && static_cast<int>(n) >= c.filmFrames[0] && static_cast<int>(n) <= c.filmFrames[1];
      const double want =
          (inFilm ? c.firstFilmTime + (static_cast<int>(n) - c.filmFrames[0]) * c.period : positions[n]) * field;
      EXPECT_NEAR(t, want, 1e-6) << c.plan << ": output frame " << n;
      EXPECT_LT(std::abs(t - positions[n] * field), field) << c.plan << ": output frame " << n;
      EXPECT_GT(t, previous) << c.plan << ": output frame " << n;
      previous = t;
    }
    EXPECT_FALSE(std::getline(text, line)) << c.plan << ": extra " << line;
  }
}

// Where the lines of two film stretches meet at neighbouring positions
// (2:2:2:4 ending three quarters of a field late, 3:2 starting a quarter
// early), the later frame keeps its position's time: times rise strictly and
// none lies before the clip's start.
TEST(CliTimecodes, TimesRiseAcrossStretchesThatMeet) {
  const double field = 1001.0 / 60;
  for (const std::string plan :
       {"1010101000101010110100101001010010100", "101010100010101011010010100101001010010100101001010010100"}) {
    std::istringstream text(cli::TimecodesText(plan));
    std::string line;
    std::getline(text, line);
    double previous = -1;
    for (size_t p = 0; p < plan.size(); ++p) {
      if (plan[p] == '0') continue;
      ASSERT_TRUE(std::getline(text, line)) << plan;
      const double t = std::stod(line);
      EXPECT_GE(t, 0) << plan << ": position " << p << " at " << line;
      EXPECT_GT(t, previous) << plan << ": position " << p << " at " << line;
      EXPECT_LT(std::abs(t - p * field), field) << plan << ": position " << p;
      previous = t;
    }
  }
}

// A plan through a FIFO, which the command must open once, to read it whole,
// gives the file's frames, and one through a pipe their count (the reader's
// own cases, standard input and the size limit among them: plan_test.cpp).
TEST_F(CliCommand, PlanFromAFifoGivesTheFileRunsFrames) {
  WriteAll(dir + "in.y4m", RandomY4m(10, 6, 5, nullptr));
  WriteAll(dir + "plan", "1100011x1");
  ASSERT_EQ(Run("$Z -q --plan $D/plan $D/in.y4m $D/file.y4m").status, 0);
  ASSERT_EQ(ReadAll(dir + "file.y4m").size(), 44 + 5 * (6 + 10 * 6 * 2));
  const CommandResult r =
      Run("mkfifo $D/fifo && { cat $D/plan > $D/fifo & } && $Z -q --plan $D/fifo $D/in.y4m - > $D/out.y4m");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadAll(dir + "out.y4m") == ReadAll(dir + "file.y4m"));
  EXPECT_EQ(Run("$Z --info --plan <(cat $D/plan) $D/in.y4m | head -1 > $D/info.txt").status, 0);
  EXPECT_EQ(ReadAll(dir + "info.txt"), "frames: 5\n");
}

TEST_F(CliCommand, RawPackedInAndOutAndInfo) {
  const int w = 4, h = 2;
  std::string packed;
  for (int i = 0; i < w * h * 2 * 3; ++i) packed += static_cast<char>(i * 5 + 1);
  WriteAll(dir + "in.yuyv", packed);
  WriteAll(dir + "plan", "10001");  // frame 0, frame 2
  CommandResult r = Run("$Z -q --plan $D/plan --raw 4x2 --raw-out $D/in.yuyv $D/out.yuyv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(dir + "out.yuyv"), packed.substr(0, 16) + packed.substr(32, 16));

  r = Run("printf 10010 > $D/weave && $Z --plan $D/weave --raw=4x2 --info $D/in.yuyv > $D/info.txt");  // it weaves
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(dir + "info.txt"),
            "frames: 2\nrate: 60000/1001\nwidth: 4\nheight: 2\npixel_type: YUY2\ninput: 4x2 4:2:2 (packed "
            "yuyv422)\nfield_order: top field first (assumed: raw input states no order; the footage shows no "
            "order)\noutput: 4:2:2 (C422)\n");
  EXPECT_EQ(Run("$Z --version | grep -q zemivtc && $Z --help | grep -q -- --plan").status, 0);
}

TEST_F(CliCommand, EveryRefusalHasItsMessageAndStatusAndLeavesNoOutputBehind) {
  const int w = 8, h = 4;
  const std::string good = RandomY4m(w, h, 4, nullptr);
  WriteAll(dir + "in.y4m", good);
  WriteAll(dir + "in420.y4m", RandomY4m(w, 6, 2, nullptr, "C420jpeg"));
  WriteAll(dir + "oddbff.y4m", RandomY4m(w, 5, 2, nullptr, "C422", "Ib"));
  WriteAll(dir + "h6.y4m", RandomY4m(w, 6, 2, nullptr));
  WriteAll(dir + "in444.y4m", RandomY4m(w, h, 2, nullptr, "C444"));
  WriteAll(dir + "cut.y4m", good.substr(0, good.size() - 7));
  WriteAll(dir + "long.y4m", RandomY4m(64, 48, 60, nullptr));
  WriteAll(dir + "plan", "1111111");
  WriteAll(dir + "kept.y4m", "keep me");
  WriteAll(dir + "text.vob", "not a video\n");
  const std::string longPlan(120, '1');
  testing_support::ExpectRefusals(
      dir,
      {
          {"--plan $D/plan $D/in420.y4m $D/out.y4m", 1, "a height that is a multiple of 4"},
          {"--plan $D/plan $D/oddbff.y4m $D/out.y4m", 1, "bottom field first needs an even height"},
          {"--plan $D/plan --chroma-out 420 $D/h6.y4m $D/out.y4m", 1, "cannot write 4:2:0: interlaced 4:2:0 needs"},
          {"--plan $D/plan --field-order sideways $D/in.y4m $D/out.y4m", 2, "--field-order wants tff or bff"},
          {"--plan $D/plan --chroma-out 444 $D/in.y4m $D/out.y4m", 2, "--chroma-out wants 420 or 422"},
          {"--plan $D/plan --chroma-out=420 --raw-out $D/in.y4m $D/out.y4m", 2, "--chroma-out 420 needs a Y4M output"},
          // The reader's refusal passed on (the reader's own cases: plan_test.cpp).
          {"--plan $D/missing $D/in.y4m $D/out.y4m", 1, "zemivtc: File open error"},
          {"--plan <({ head -c 11000000 /dev/zero | tr '\\0' 1; } 2>/dev/null) $D/in.y4m $D/out.y4m", 1,
           "zemivtc: File too long\nzemivtc: input 8x4 4:2:2 (C422)"},  // through a pipe; its writer's words aside
          {"--plan $D/plan $D/in444.y4m $D/out.y4m", 1, "C444"},
          {"--plan $D/plan $D/cut.y4m $D/out.y4m", 1, "input 8x4 4:2:2 (C422), top field first"},
          {"--plan $D/plan $D/cut.y4m $D/out.y4m", 1, "frame 3 (counting from 0) is truncated"},
          {"--plan $D/plan $D/cut.y4m $D/kept.y4m", 1, "truncated"},
          {"--plan $D/plan $D/nothere.y4m $D/out.y4m", 1, "cannot open"},
          {"--plan $D/plan $D/in.y4m $D/no/such/dir/out.y4m", 1, "cannot write"},
          {"--plan $D/plan $D/in.y4m /sys/out.y4m", 1, "cannot make a file in its folder /sys (the output is"},
          {"--plan $D/plan $D/in.y4m /dev/full", 1, "No space left"},
          {"--plan $D/plan --bogus $D/in.y4m $D/out.y4m", 2, "unknown option --bogus"},
          {"--plan $D/plan", 2, "no INPUT"},
          {"--plan $D/plan $D/in.y4m $D/out.y4m extra", 2, "too many arguments"},
          // Sources read through FFMS2: chosen by content, not by name.
          {"--plan $D/plan --source-frames coded $D/in.y4m $D/out.y4m", 2, "--source-frames is for sources read"},
          {"--plan $D/plan --ffms2 $D/lib.so - $D/out.y4m < $D/in.y4m", 2, "standard input is a Y4M stream"},
          {"--plan $D/plan --source-frames film $D/text.vob $D/out.y4m", 2, "--source-frames wants player or coded"},
          {"--plan $D/plan --raw 8x4 --ffms2 $D/lib.so $D/in.y4m $D/out.y4m", 2, "not --raw frames"},
          {"--plan $D/plan --ffms2 $D/nolib.so $D/text.vob $D/out.y4m", 1, "apt install libffms2-5"},
          {"--plan $D/plan $D/text.vob $D/out.y4m", 1, "FFMS2 cannot open it"},
          {"--plan $D/plan $D/text.vob $D/out.y4m", 1, "make a Y4M file of it: ffmpeg -i"},
          {"--plan $D/plan --raw 7x4 $D/in.y4m $D/out.y4m", 2, "even"},
          {"--plan $D/plan --raw 720by480 $D/in.y4m $D/out.y4m", 2, "WIDTHxHEIGHT"},
          {"--info --plan", 2, "--plan needs a value"},
          // A reader that goes away is a failure, not a quiet success.
          {"--plan $D/input $D/long.y4m - | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}", 1, "Broken pipe",
           longPlan.c_str()},
      });

  // --plugin, which named the module the command once loaded, is accepted
  // with a warning and changes nothing.
  const CommandResult plugin = Run(
      "$Z -q --plan $D/plan --plugin $D/plan $D/in.y4m $D/plugin.y4m && $Z -q --plan $D/plan $D/in.y4m $D/plain.y4m");
  EXPECT_EQ(plugin.status, 0) << plugin.err;
  EXPECT_NE(plugin.err.find("zemivtc: warning: --plugin is no longer needed"), std::string::npos) << plugin.err;
  EXPECT_EQ(ReadAll(dir + "plugin.y4m"), ReadAll(dir + "plain.y4m"));
}

// ffmpeg's telecine (pattern 23) lays film frames A B C D over five frames
// as A/A, B/B, B/C, C/D, D/D (first field/second field). Position 2k+1
// weaves frame k's second field with frame k+1's first, so each film frame
// is whole at positions 0, 2, 5 and 8 of every ten, in either field order.
// The recovered frames are the film frames, and every plane's rows are those
// of the telecined fields they came from: in 4:2:0 too, whose chroma rows
// belong to fields as its luma rows do.
TEST_F(CliCommand, FfmpegTelecineThenPlanRecoversEveryFilmFrameByteForByte) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  const int w = 320, h = 240, filmFrames = 24;
  std::string plan;
  for (int cycle = 0; cycle < filmFrames / 4; ++cycle) plan += "1010010010";
  WriteAll(dir + "plan", plan);
  std::vector<int> positions;
  for (size_t p = 0; p < plan.size(); ++p)
    if (plan[p] == '1') positions.push_back(static_cast<int>(p));
  for (const char* pixels : {"yuv422p", "yuv420p"})
    for (const char* first : {"top", "bottom"}) {
      const bool yuv420 = pixels == std::string("yuv420p"), bottomFirst = first == std::string("bottom");
      const std::string what = std::string(pixels) + " " + first + " field first";
      // ffmpeg marks the telecined stream progressive: the order is named.
      const CommandResult made = Run(
          std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=24000/1001 -frames:v 24 -pix_fmt ") +
          pixels + " -f yuv4mpegpipe $D/film.y4m && ffmpeg -v error -y -i $D/film.y4m -vf telecine=pattern=23:" +
          "first_field=" + first + " -f yuv4mpegpipe $D/tc.y4m");
      ASSERT_EQ(made.status, 0) << made.err;
      const CommandResult r = Run(std::string("$Z -q --field-order ") + (bottomFirst ? "bff" : "tff") +
                                  " --plan $D/plan - - < $D/tc.y4m > $D/out.y4m");
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      const size_t frameBytes = yuv420 ? w * h * 3 / 2 : w * h * 2;
      std::string filmHeader, tcHeader, outHeader;
      const std::vector<std::string> film = SplitY4m(ReadAll(dir + "film.y4m"), frameBytes, &filmHeader);
      const std::vector<std::string> telecined = SplitY4m(ReadAll(dir + "tc.y4m"), frameBytes, &tcHeader);
      const std::vector<std::string> out = SplitY4m(ReadAll(dir + "out.y4m"), frameBytes, &outHeader);
      ASSERT_EQ(film.size(), static_cast<size_t>(filmFrames));
      ASSERT_EQ(out.size(), film.size()) << what;
      EXPECT_NE(outHeader.find(" F60000:1001 "), std::string::npos) << outHeader;
      EXPECT_NE(outHeader.find(yuv420 ? " C420jpeg" : " C422"), std::string::npos) << outHeader;
      const size_t chromaFrom = static_cast<size_t>(w) * h;
      for (size_t i = 0; i < film.size(); ++i) {
        const std::string fields = ModelPosition(telecined, w, h, positions[i], yuv420, bottomFirst);
        EXPECT_TRUE(out[i].substr(chromaFrom) == fields.substr(chromaFrom)) << what << ": chroma of film frame " << i;
        EXPECT_TRUE(out[i] == fields) << what << ": film frame " << i << " against its fields";
        EXPECT_TRUE(out[i] == film[i]) << what << ": film frame " << i;
      }
    }
}

TEST_F(CliCommand, FfmpegPipelineOnBothSidesMatchesTheFileRun) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  std::string plan;
  for (int i = 0; i < 120; ++i) plan += "1010010010";  // 600 input frames
  WriteAll(dir + "plan", plan);
  const std::string source =
      "ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30000/1001 -frames:v 600 -pix_fmt yuv422p "
      "-f yuv4mpegpipe";
  CommandResult r = Run("set -o pipefail; " + source + " - | $Z -q --plan $D/plan - - | " +
                        "ffmpeg -v error -f yuv4mpegpipe -i - -f framemd5 $D/piped.md5");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run(source +
          " $D/in.y4m && $Z -q --plan $D/plan $D/in.y4m $D/out.y4m && "
          "ffmpeg -v error -i $D/out.y4m -f framemd5 $D/file.md5");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string piped = ReadAll(dir + "piped.md5"), file = ReadAll(dir + "file.md5");
  std::istringstream lines(piped);
  int frameLines = 0;
  for (std::string line; std::getline(lines, line);) frameLines += !line.empty() && line[0] != '#';
  EXPECT_EQ(frameLines, 480);
  EXPECT_EQ(piped, file);
}

// Peak resident size of the command fed `frames` frames through a pipe.
long PeakRssKib(const std::string& planPath, int frames) {
  const std::string generate = "ffmpeg -v error -f lavfi -i color=c=gray:size=320x240:rate=30000/1001 -frames:v " +
                               std::to_string(frames) + " -pix_fmt yuv422p -f yuv4mpegpipe -";
  FILE* source = popen(generate.c_str(), "r");
  if (!source) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(source), STDIN_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(Cli.c_str(), Cli.c_str(), "-q", "--plan", planPath.c_str(), "-", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  pclose(source);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

TEST_F(CliCommand, PipeMemoryStaysFlatHoweverLongTheStream) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; `make deps` installs it";
  std::string shortPlan, longPlan;
  for (int i = 0; i < 20; ++i) shortPlan += "1010010010";
  for (int i = 0; i < 600; ++i) longPlan += "1010010010";
  WriteAll(dir + "short", shortPlan);
  WriteAll(dir + "long", longPlan);
  const long shortRss = PeakRssKib(dir + "short", 100);
  const long longRss = PeakRssKib(dir + "long", 3000);
  ASSERT_GT(shortRss, 0);
  ASSERT_GT(longRss, 0);
  const long frameKib = 320 * 240 * 2 / 1024;
  EXPECT_LE(longRss, shortRss + 4 * frameKib + 512) << "100 frames: " << shortRss << " KiB, 3000: " << longRss;
  std::printf("peak RSS: 100 frames %ld KiB, 3000 frames %ld KiB\n", shortRss, longRss);
}

}  // namespace

// A plan made for another clip, or a file that is no plan, still renders
// (the format takes any byte), with a warning that says how far off it is.
TEST_F(CliCommand, APlanForAnotherClipOrNoPlanAtAllIsWarnedOf) {
  WriteAll(dir + "in.y4m", RandomY4m(8, 4, 10, nullptr));  // positions 0 to 18
  const struct {
    std::string plan, warning;
  } cases[] = {
      {std::string(19, '1'), ""},
      {std::string(18, '1') + "\r\n", ""},
      {"1010101010", "has 10 positions, 9 fewer than the input's 10 frames have; input frames 6 to 9 make no output"},
      {std::string(19, '1') + std::string(9, '0'), "has 28 positions, 9 more than the input's 10 frames have"},
      {"1\n1\n1\x89PNG" + std::string(12, '0'), "holds 6 bytes that are not a code 0 to 6 (the first at position 1"},
  };
  for (const auto& c : cases) {
    WriteAll(dir + "plan", c.plan);
    const CommandResult r = Run("$Z -q --plan $D/plan $D/in.y4m $D/out.y4m");
    EXPECT_EQ(r.status, 0) << r.err;
    if (c.warning.empty())
      EXPECT_EQ(r.err, "") << c.plan;
    else
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
  }
}
