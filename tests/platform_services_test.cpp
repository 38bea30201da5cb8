// Threads, MulDiv, the processor count and low-level file input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

TEST(ThreadTest, ThreadsRunTheirRoutineOnTheirArgumentAndJoin) {
  std::atomic<int> sum{0};
  struct Arg {
    std::atomic<int>* sum;
    int value;
  };
  std::vector<Arg> args;
  for (int i = 1; i <= 8; ++i) args.push_back({&sum, i});
  std::vector<platform::Thread*> threads;
  for (Arg& arg : args) {
    platform::Thread* t = platform::StartThread(
        [](void* p) -> unsigned {
          Arg* a = static_cast<Arg*>(p);
          a->sum->fetch_add(a->value);
          return 0;
        },
        &arg);
    ASSERT_NE(t, nullptr);
    threads.push_back(t);
  }
  for (platform::Thread* t : threads) platform::JoinThread(t);
  EXPECT_EQ(sum.load(), 36);  // every routine ran before its join returned
}

TEST(MulDivTest, RoundsToNearestWithHalvesAwayFromZero) {
  EXPECT_EQ(platform::MulDiv(5, 2, 4), 3);  // 2.5
  EXPECT_EQ(platform::MulDiv(3, 1, 2), 2);  // 1.5
  EXPECT_EQ(platform::MulDiv(1, 1, 3), 0);  // 0.33
  EXPECT_EQ(platform::MulDiv(2, 1, 3), 1);  // 0.67
  EXPECT_EQ(platform::MulDiv(-5, 2, 4), -3);
  EXPECT_EQ(platform::MulDiv(5, -2, 4), -3);
  EXPECT_EQ(platform::MulDiv(5, 2, -4), -3);
  EXPECT_EQ(platform::MulDiv(-5, -2, -4), -3);
  EXPECT_EQ(platform::MulDiv(-5, -2, 4), 3);
  EXPECT_EQ(platform::MulDiv(-1, 1, 3), 0);
}

TEST(MulDivTest, BandStartsOfTotal240OverSevenBands) {
  std::vector<int> starts;
  for (int i = 0; i < 7; ++i) starts.push_back(platform::MulDiv(240, i, 7));
  EXPECT_EQ(starts, (std::vector<int>{0, 34, 69, 103, 137, 171, 206}));
  EXPECT_EQ(platform::MulDiv(240, 7, 7), 240);
}

TEST(MulDivTest, WideProductsAndFailures) {
  EXPECT_EQ(platform::MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);  // the product needs 62 bits
  EXPECT_EQ(platform::MulDiv(100000, 100000, 1000), 10000000);
  EXPECT_EQ(platform::MulDiv(INT_MIN, 1, 1), INT_MIN);
  EXPECT_EQ(platform::MulDiv(7, 3, 0), -1);
  EXPECT_EQ(platform::MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(platform::MulDiv(INT_MIN, -1, 1), -1);
  EXPECT_EQ(platform::MulDiv(INT_MIN, 2, 1), -1);
}

TEST(ProcessorCountTest, EnvironmentOverridesOnlyWithAValidCount) {
  unsetenv("ZEMIVTC_TEST_PROCESSORS");
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  int system = online < 1 ? 1 : static_cast<int>(online);
  EXPECT_EQ(platform::ProcessorCount(), system);
  struct Case {
    const char* value;
    int expected;
  } cases[] = {{"3", 3},       {"1", 1},       {"1024", 1024}, {"0", system},  {"1025", system},
               {"-2", system}, {"4x", system}, {"", system},   {"abc", system}};
  for (const Case& c : cases) {
    setenv("ZEMIVTC_TEST_PROCESSORS", c.value, 1);
    EXPECT_EQ(platform::ProcessorCount(), c.expected) << "\"" << c.value << "\"";
  }
  unsetenv("ZEMIVTC_TEST_PROCESSORS");
}

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zemivtc_platform_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    for (const std::string& f : files) std::remove(f.c_str());
    rmdir(dir.c_str());
  }
  std::string Write(const char* name, const std::string& content) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    files.push_back(path);
    return path;
  }
  std::string dir;
  std::vector<std::string> files;
};

TEST_F(FileTest, MissingFileFailsAndIsNotCreated) {
  std::string path = dir + "/absent.zem";
  EXPECT_EQ(platform::OpenForReading(path.c_str()), -1);
  struct stat info;
  EXPECT_NE(stat(path.c_str(), &info), 0);
  EXPECT_EQ(platform::OpenForReading(nullptr), -1);
}

TEST_F(FileTest, DirectoryCannotBeOpened) { EXPECT_EQ(platform::OpenForReading(dir.c_str()), -1); }

TEST_F(FileTest, LengthAndReadsOfAFile) {
  std::string content("1234\r\n56\0", 9);  // bytes kept as they are, NUL and CR included
  content += std::string(1000, 'x');
  std::string path = Write("plan.zem", content);
  int fd = platform::OpenForReading(path.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::FileLength(fd), static_cast<int64_t>(content.size()));
  std::vector<char> buffer(content.size() + 10, 0);
  EXPECT_EQ(platform::ReadOnce(fd, buffer.data(), 6), 6);
  EXPECT_EQ(std::string(buffer.data(), 6), "1234\r\n");
  // Asking for more than is left gives what is left, then 0 at the end.
  int rest = platform::ReadOnce(fd, buffer.data(), static_cast<uint32_t>(buffer.size()));
  EXPECT_EQ(rest, static_cast<int>(content.size()) - 6);
  EXPECT_EQ(std::string(buffer.data(), rest), content.substr(6));
  EXPECT_EQ(platform::ReadOnce(fd, buffer.data(), 4), 0);
  platform::CloseFile(fd);
}

TEST_F(FileTest, OnlyRegularFilesCountAsRegular) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int file = platform::OpenForReading(Write("regular.zem", "11").c_str());
  const int device = platform::OpenForReading("/dev/null");
  const struct {
    int fd;
    bool regular;
  } cases[] = {{file, true}, {fds[0], false}, {device, false}, {-1, false}};
  for (const auto& c : cases) EXPECT_EQ(platform::IsRegularFile(c.fd), c.regular) << c.fd;
  for (int fd : {fds[0], fds[1], file, device}) platform::CloseFile(fd);
}

TEST_F(FileTest, EmptyFileAndBadDescriptors) {
  std::string path = Write("empty.zem", "");
  int fd = platform::OpenForReading(path.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::FileLength(fd), 0);
  char byte;
  EXPECT_EQ(platform::ReadOnce(fd, &byte, 1), 0);
  platform::CloseFile(fd);
  EXPECT_EQ(platform::FileLength(-1), -1);
  EXPECT_EQ(platform::ReadOnce(-1, &byte, 1), -1);
  platform::CloseFile(-1);
}

}  // namespace
