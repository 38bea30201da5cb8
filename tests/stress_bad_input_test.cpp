// Malformed and hostile input, module and command: the refusals listed in
// docs/errors.md that the other tests do not pin down to the exact message,
// exit status and absence of output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "error_of.h"
#include "module_fixture.h"
#include "tests/command_line.h"

using namespace testing_support;

namespace {

// A plan without codes makes a clip of no frames (at 60000/1001), whose
// frames are refused, wherever asked.
TEST(BadInputModule, FrameFromAPlanThatMakesNoFrameIsRefusedEveryTime) {
  host::ScriptEnvironment env;
  env.LoadPlugin(ZEMIVTC_MODULE_PATH);
  host::MemoryClip* memory = RandomClip(8, 4, 3, 5);
  PClip clip(memory);
  for (const char* text : {"", "0000", "789 abc\r\n", "\x01\xff"}) {
    PlanFile plan(text);
    PClip filter = InvokeZemIvtc(env, clip.get(), plan.path.c_str()).AsClip();
    EXPECT_TRUE(filter->GetVideoInfo().num_frames == 0 && filter->GetVideoInfo().fps_numerator == 60000u) << text;
    for (int n : {0, -1, 1, 1 << 30}) {
      EXPECT_EQ(ErrorOf([&] { filter->GetFrame(n, &env); }), "The plan makes no frames") << n;
    }
  }
  EXPECT_TRUE(memory->requests.empty()) << "the source was read for a plan without frames";
  EXPECT_EQ(clip->RefCount(), 1);
}

// ctest runs test processes side by side; a plan file of one must never be
// the path of another's, or one process removes the other's plan and its
// creation fails with "File open error". A forked child makes its plan at
// the same address with the same count as its parent: only the process
// tells them apart.
TEST(BadInputFixture, PlanFilesOfSideBySideProcessesNeverShareAPath) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  PlanFile plan("1");
  if (child == 0) {
    const ssize_t written = write(ends[1], plan.path.data(), plan.path.size());
    _exit(written == static_cast<ssize_t>(plan.path.size()) ? 0 : 1);
  }
  close(ends[1]);
  char buffer[512];
  const ssize_t got = read(ends[0], buffer, sizeof buffer);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(got, 0);
  EXPECT_NE(std::string(buffer, static_cast<size_t>(got)), plan.path);
}

TEST(BadInputCommand, RefusalsGiveTheirMessageAndStatusAndWriteNothing) {
  const std::string dir = MakeTempDir("bad_input");
  ASSERT_FALSE(dir.empty());
  WriteAll(dir + "plan", "1111");
  WriteAll(dir + "h1.y4m", Y4m("YUV4MPEG2 W4 H1 F25:1 C422", 8, 2));
  WriteAll(dir + "empty.y4m", "");
  WriteAll(dir + "noeol.y4m", "YUV4MPEG2 W4 H2 F25:1 C422");
  WriteAll(dir + "longheader.y4m", "YUV4MPEG2 W4 H2 F25:1 C422 X" + std::string(70000, 'x') + "\n");
  WriteAll(dir + "zero.y4m", Y4m("YUV4MPEG2 W4 H2 F25:1 C422", 16, 0));
  WriteAll(dir + "good.y4m", Y4m("YUV4MPEG2 W4 H2 F25:1 C422", 16, 3));
  WriteAll(dir + "notY4m.y4m", "RIFF....WAVEfmt \n");
  WriteAll(dir + "c420.y4m", Y4m("YUV4MPEG2 W4 H2 F25:1 C420jpeg", 12, 2));
  WriteAll(dir + "notag.y4m", Y4m("YUV4MPEG2 W4 H2 F25:1", 12, 2));
  ExpectRefusals(
      dir,
      {
          {"--plan plan h1.y4m out.y4m", 1, "zemivtc: Video height must be at least 2"},
          {"--plan plan empty.y4m out.y4m", 1, "zemivtc: empty.y4m: it is empty"},
          {"--plan plan noeol.y4m out.y4m", 1, "zemivtc: noeol.y4m: its stream header has no end of line"},
          {"--plan plan longheader.y4m out.y4m", 1, "zemivtc: longheader.y4m: its stream header is too long"},
          {"--plan plan zero.y4m out.y4m", 1, "zemivtc: the input holds no frames"},
          {"--plan plan - out.y4m < notY4m.y4m", 1,
           "it does not start with \"YUV4MPEG2\"; a pipe must carry Y4M (ffmpeg -i SOURCE -f yuv4mpegpipe -)"},
          {"--plan plan notY4m.y4m out.y4m", 1, "notY4m.y4m: FFMS2 cannot open it"},
          {"--plan plan - out.y4m < c420.y4m", 1, "zemivtc: interlaced 4:2:0 needs a height that is a multiple of 4"},
          {"--plan plan notag.y4m out.y4m", 1,
           "\nzemivtc: input 4x2 4:2:0 (no C tag), top field first (assumed: the header has no I tag); output 4:2:0 "
           "(C420jpeg)\n"},
          {"--plan plan good.y4m .", 1, "cannot write .: it is a directory"},
          {"--plan plan --plugin '' good.y4m out.y4m", 2, "zemivtc: --plugin needs a path"},
          {"--plan plan --info=yes good.y4m", 2, "zemivtc: --info takes no value"},
          {"--plan plan --raw 0x4 good.y4m out.y4m", 2, "zemivtc: --raw size out of range (1 to 16384 each)"},
          {"--plan plan '' out.y4m", 2, "zemivtc: empty file name"},
      });
  std::system(("rm -rf " + dir).c_str());
}

// A plan that makes no frame has nothing to render: the render fails with
// the filter's message and writes nothing, whatever the output; --info still
// reports the clip of no frames.
TEST(BadInputCommand, PlanWithoutFramesFailsToRenderAndWritesNothing) {
  const std::string dir = MakeTempDir("no_frames");
  ASSERT_FALSE(dir.empty());
  WriteAll(dir + "good.y4m", Y4m("YUV4MPEG2 W4 H2 F25:1 C422", 16, 3));
  WriteAll(dir + "kept.y4m", "keep me");
  std::vector<Refusal> rows;
  for (const char* plan : {"", "000\n", "0\n0\r\nx"}) {
    for (const char* args :
         {"--plan input good.y4m out.y4m", "--plan input - - < good.y4m", "--plan input good.y4m kept.y4m"}) {
      rows.push_back({args, 1,
                      "zemivtc: The plan makes no frames\nzemivtc: input 4x2 4:2:2 (C422), field order does not "
                      "matter for this plan; output 4:2:2 (C422)\n",
                      plan});
    }
    WriteAll(dir + "input", plan);
    EXPECT_EQ(RunShell(dir, "$Z --info --plan $D/input $D/good.y4m > $D/info.txt").status, 0);
    EXPECT_EQ(ReadAll(dir + "info.txt").substr(0, 10), "frames: 0\n");
  }
  std::remove((dir + "info.txt").c_str());
  ExpectRefusals(dir, rows);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
