// The command's system layer (platform/system.h), built for Linux in the
// native suite and for Windows in build-win64-cli/, where it runs under Wine:
// the same cases give the same verdicts on both systems.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "stream/output.h"
#endif

namespace {

// A fresh directory with a name that is not ASCII, under the test's temporary
// directory, named for this run: suites of other builds may run beside it.
std::string MakeWorkDir(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "zemivtc-system-" + name + "-" +
                          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                          " \xC3\xA9t\xC3\xA9 \xE6\x98\xA0";
  EXPECT_EQ(sys::MakeDirectory(dir), sys::MadeDirectory::Made) << dir << ": " << sys::ErrorText();
  return dir;
}

// A file past 4 GiB (sparse: only its last bytes are written), made under a
// temporary name and renamed into place, then read at 64-bit offsets, mapped
// and listed by its UTF-8 name.
TEST(SystemFiles, PastFourGibibytesUnderAUtf8Name) {
  const std::string dir = MakeWorkDir("large");
  const std::string target = dir + "/gro\xC3\x9F \xE6\x98\xA0\xE7\x94\xBB.y4m";
  const int64_t markAt = (int64_t{1} << 32) + 100;
  std::string temp;
  const int out = sys::CreateTemporaryBeside(target, &temp);
  ASSERT_GE(out, 0) << sys::ErrorText();
  ASSERT_TRUE(sys::SetPosition(out, markAt)) << sys::ErrorText();
  ASSERT_EQ(sys::Write(out, "ZEM", 3), 3) << sys::ErrorText();
  ASSERT_TRUE(sys::Close(out));
  ASSERT_TRUE(sys::ReplaceWithTemporary(temp, target)) << sys::ErrorText();

  EXPECT_EQ(sys::StatusOf(target).size, markAt + 3);
  std::vector<std::string> names;
  ASSERT_TRUE(sys::ListDirectory(dir, &names));
  EXPECT_EQ(names, std::vector<std::string>{"gro\xC3\x9F \xE6\x98\xA0\xE7\x94\xBB.y4m"});  // the temporary name is gone
  EXPECT_TRUE(sys::SameFile(target, dir + "/./" + names[0]));

  const int in = sys::OpenForReading(target);
  ASSERT_GE(in, 0) << sys::ErrorText();
  char got[4] = {};
  EXPECT_EQ(sys::ReadAt(in, got, 3, markAt), 3);
  EXPECT_STREQ(got, "ZEM");
  EXPECT_EQ(sys::ReadAt(in, got, 3, markAt + 3), 0);
  const sys::Mapping map = sys::MapForReading(in, static_cast<size_t>(markAt + 3));
  ASSERT_NE(map.data, nullptr);
  EXPECT_EQ(std::memcmp(map.data + markAt, "ZEM", 3), 0);
  sys::Unmap(map);
  sys::Close(in);
  EXPECT_TRUE(sys::RemoveFile(target));
  EXPECT_TRUE(sys::RemoveDirectory(dir));
}

// Failures carry POSIX's words on every system, so the command's messages match.
TEST(SystemFiles, FailuresSayWhatPosixSays) {
  const std::string dir = MakeWorkDir("errors");
  const std::string missing = dir + "/missing";
  EXPECT_EQ(sys::OpenForReading(missing), -1);
  EXPECT_EQ(sys::ErrorText(), "No such file or directory");
  EXPECT_EQ(sys::MakeDirectory(missing + "/sub"), sys::MadeDirectory::Failed);
  EXPECT_EQ(sys::ErrorText(), "No such file or directory");
  EXPECT_EQ(sys::MakeDirectory(dir), sys::MadeDirectory::Existed);
  EXPECT_FALSE(sys::StatusOf(missing).exists);
  EXPECT_TRUE(sys::StatusOf(dir).directory);
  EXPECT_TRUE(sys::RemoveDirectory(dir));
}

TEST(SystemPaths, SplitAtTheSystemsSeparators) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
  };
  const Case cases[] = {{"a/b/c.zem", "a/b", "c.zem"}, {"c.zem", ".", "c.zem"},
                        {"/c.zem", "/", "c.zem"},
#ifdef _WIN32
                        {"a\\c.zem", "a", "c.zem"},    {"C:\\c.zem", "C:\\", "c.zem"},
                        {"C:c.zem", "C:", "c.zem"}
#endif
  };
  for (const Case& c : cases) {
    std::string directory, name;
    sys::SplitPath(c.path, &directory, &name);
    EXPECT_EQ(directory, c.directory) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
}

// A library loads by the bare name the system searches for; a missing one
// gives the system's reason, for the command's message.
TEST(SystemLibraries, LoadByNameOrSayWhyNot) {
  std::string why;
  sys::Library* present = sys::OpenLibrary(sys::PerSystem("libc.so.6", "kernel32.dll"), &why);
  ASSERT_NE(present, nullptr) << why;
  EXPECT_NE(sys::LibrarySymbol(present, sys::PerSystem("strlen", "GetTickCount")), nullptr);
  EXPECT_EQ(sys::LibrarySymbol(present, "NoSuchFunctionHere"), nullptr);
  sys::CloseLibrary(present);
  EXPECT_EQ(sys::OpenLibrary(sys::PerSystem("libzemivtc-absent.so.1", "zemivtc-absent.dll"), &why), nullptr);
  EXPECT_FALSE(why.empty());
}

#ifndef _WIN32
// Every output the command has open under a temporary name goes on SIGTERM
// (the plan and the timeline together), not only the last one opened.
TEST(SystemInterrupt, SigtermRemovesEveryPendingOutput) {
  const std::string dir = MakeWorkDir("interrupt");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    stream::InstallSignalHandlers();
    stream::OutputFile plan(dir + "/p.zem"), timeline(dir + "/p.png");
    if (write(ready[1], "r", 1) != 1) _exit(3);
    for (;;) pause();
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);  // both temporary files exist now
  std::vector<std::string> names;
  ASSERT_TRUE(sys::ListDirectory(dir, &names));
  EXPECT_EQ(names.size(), 2u);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  ASSERT_TRUE(sys::ListDirectory(dir, &names));
  EXPECT_EQ(names, std::vector<std::string>()) << "left behind: " << (names.empty() ? "" : names[0]);
  sys::RemoveDirectory(dir);
}
#endif

}  // namespace
