// The plan's two passes, the output clip properties, and the plan reader
// every front end reads its plan with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "plan/frame_plan.h"
#include "plan/plan_file.h"
#include "plugin/zem_ivtc_filter.h"
#include "tests/fed_pipe.h"

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

// A regular file read as its length says, one of the kernel's that reports no length, a pipe (by its
// descriptor, or as /dev/stdin) and a FIFO to their end, under one size limit; a path that cannot be opened
// or a file that delivers less than its length, refused.
TEST(PlanFile, EverySourceIsReadWholeOrRefused) {
  enum Source { Path, File, Pipe, Stdin, Fifo };
  std::ifstream version("/proc/version");
  const std::string some = "1001123456\n01", none, atLimit(MaxPlanSize, '1'), over(MaxPlanSize + 1, '0'),
                    wayOver(11000000, '1'), kernel(std::istreambuf_iterator<char>(version), {});
  // The source, its bytes (a path's own), the path, the result.
  std::vector<std::tuple<Source, const std::string*, const char*, PlanReadResult>> cases = {
      {Path, &none, nullptr, PlanOpenError},
      {Path, &none, "/nonexistent/dir/plan.txt", PlanOpenError},
      {Path, &none, ZEMIVTC_BINARY_DIR, PlanOpenError},                 // a folder
      {Path, &kernel, "/proc/version", PlanReadOk},                     // its length reads 0
      {Path, &none, "/sys/devices/system/cpu/online", PlanReadError}};  // a page by its length
  for (Source source : {File, Pipe, Stdin, Fifo})
    for (const std::string* bytes : {&some, &none, &atLimit, source == File ? &over : &wayOver})
      cases.emplace_back(source, bytes, nullptr, bytes->size() > MaxPlanSize ? PlanTooLong : PlanReadOk);
  signal(SIGPIPE, SIG_IGN);  // the writer of a plan too long stops at the reader's close
  const std::string file = testing::TempDir() + "zemivtc_plan_" + std::to_string(getpid());
  for (const auto& [source, bytes, given, result] : cases) {
    if (result == PlanReadError && access(given, R_OK) != 0 && std::printf("no sysfs: no short read tried\n")) continue;
    SCOPED_TRACE(std::to_string(source) + " " + (given ? given : "") + ", " + std::to_string(bytes->size()));
    std::unique_ptr<FedPipe> fed;
    std::thread writer;
    std::string path = source == Path ? (given ? given : "") : file;
    if (source == File) std::ofstream(path, std::ios::binary) << *bytes;
    if (source == Pipe || source == Stdin) fed = std::make_unique<FedPipe>(*bytes);
    const int stdinWas = source == Stdin ? dup(0) : -1;
    if (fed) path = source == Stdin ? (dup2(fed->readEnd, 0), "/dev/stdin") : "/dev/fd/" + std::to_string(fed->readEnd);
    if (source == Fifo) {  // opening it waits for the writer
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path << ": " << std::strerror(errno);
      writer = std::thread([&path, bytes = bytes] { std::ofstream(path, std::ios::binary) << *bytes; });
    }
    uint8_t* data = nullptr;
    int32_t size = -1;
    EXPECT_EQ(ReadPlanFile(source == Path && !given ? nullptr : path.c_str(), &data, &size), result);
    EXPECT_TRUE(result != PlanReadOk || (data && std::string(data, data + size) == *bytes)) << size;
    free(data);
    if (source == Stdin) stdinWas >= 0 ? (dup2(stdinWas, 0), close(stdinWas)) : close(0);  // none before: none after
    if (fed) close(fed->readEnd);
    if (writer.joinable()) writer.join();
    unlink(file.c_str());
  }
}

}  // namespace
