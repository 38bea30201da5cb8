// Running the built zemivtc command from tests as a user runs it: a bash line
// with $Z for the command and $D for the test's directory, its exit status
// and standard error; and the files around it.
#ifndef ZEMIVTC_TESTS_COMMAND_LINE_H
#define ZEMIVTC_TESTS_COMMAND_LINE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// A Y4M stream: the header, then `frames` frames of `frameBytes` bytes,
// frame f all 40 * f.
inline std::string Y4m(const std::string& header, int frameBytes, int frames) {
  std::string y4m = header + "\n";
  for (int f = 0; f < frames; ++f) y4m += "FRAME\n" + std::string(frameBytes, static_cast<char>(40 * f));
  return y4m;
}
// A tiny 8x4 4:2:2 clip: enough for the commands' refusals and bookkeeping.
inline std::string FlatClip(int frames) { return Y4m("YUV4MPEG2 W8 H4 F30000:1001 C422", 64, frames); }

inline bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

struct CommandResult {
  int status;       // exit status; -1 when it did not exit
  std::string err;  // standard error
};

// Runs the line in bash from a script in `dir` (which ends in '/').
inline CommandResult RunShell(const std::string& dir, const std::string& commandLine) {
  WriteAll(dir + "run.sh", std::string("Z=") + ZEMIVTC_CLI_PATH + "\nD=" + dir + "\n" + commandLine + "\n");
  const int raw = std::system(("bash " + dir + "run.sh 2>" + dir + "stderr.txt").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir + "stderr.txt")};
}

// A command line the commands must refuse: what follows `$Z` (run from $D,
// with -q added, after the subcommand for `plan`), the exit status, a piece
// of standard error, and the bytes written to $D/input first (null: none).
struct Refusal {
  std::string args;
  int status;
  std::string message;
  const char* input = nullptr;
};

// The files in `dir` and what each holds, apart from the runner's own.
inline std::map<std::string, std::string> FilesIn(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& f : std::filesystem::directory_iterator(dir)) {
    const std::string name = f.path().filename();
    if (name != "run.sh" && name != "stderr.txt" && name != "stdout.txt")
      files[name] = f.is_directory() ? "a folder" : ReadAll(f.path());
  }
  return files;
}

// Runs each row in `dir`: refused as the row says, nothing on standard
// output, no file of `dir` made (output, timecodes, temporary), removed or changed.
inline void ExpectRefusals(const std::string& dir, const std::vector<Refusal>& rows) {
  for (const Refusal& c : rows) {
    if (c.input) WriteAll(dir + "input", c.input);
    const std::map<std::string, std::string> before = FilesIn(dir);
    // -q after a subcommand's name ("plan", "edit"), before the render's options.
    const bool sub = c.args.rfind("plan ", 0) == 0 || c.args.rfind("edit ", 0) == 0;
    const std::string line = sub ? c.args.substr(0, 4) + " -q" + c.args.substr(4) : "-q " + c.args;
    const CommandResult r = RunShell(dir, "cd $D && { $Z " + line + "; } > $D/stdout.txt");
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(ReadAll(dir + "stdout.txt"), "") << c.args;
    const std::map<std::string, std::string> after = FilesIn(dir);
    std::string changed;  // the files made, changed or removed
    for (const auto& f : after) changed += before.count(f.first) && before.at(f.first) == f.second ? "" : " " + f.first;
    for (const auto& f : before) changed += after.count(f.first) ? "" : " " + f.first;
    EXPECT_EQ(changed, "") << c.args;
    std::remove((dir + "input").c_str());
  }
}

// A new directory under the test's temporary directory, ending in '/'; empty
// when it cannot be made.
inline std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = ::testing::TempDir() + prefix + "_XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return "";
  return pattern + "/";
}

}  // namespace testing_support

#endif
