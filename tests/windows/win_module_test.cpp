// The Windows build of the module in the stand-in host, under Windows or Wine:
// loading through LoadLibrary/GetProcAddress, creation errors raised inside
// the DLL and caught by the host, the plan's frame table, and worker threads
// that end with the filter.
//
//   win_module_test MODULE TESTHOOKS_MODULE WORKDIR
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace {

int failures = 0;
int checks = 0;
const char* currentGroup = "";

#define CHECK(cond)                                                                             \
  do {                                                                                          \
    ++checks;                                                                                   \
    if (!(cond)) {                                                                              \
      ++failures;                                                                               \
      std::fprintf(stderr, "FAILED [%s] %s:%d: %s\n", currentGroup, __FILE__, __LINE__, #cond); \
    }                                                                                           \
  } while (0)

#define CHECK_TEXT(got, want)                                                                                \
  do {                                                                                                       \
    ++checks;                                                                                                \
    const std::string gotText = (got), wantText = (want);                                                    \
    if (gotText != wantText) {                                                                               \
      ++failures;                                                                                            \
      std::fprintf(stderr, "FAILED [%s] %s:%d: got \"%s\", want \"%s\"\n", currentGroup, __FILE__, __LINE__, \
                   gotText.c_str(), wantText.c_str());                                                       \
    }                                                                                                        \
  } while (0)

std::string modulePath, testHooksPath, workDir;

// A source clip that reports its own destruction, so a test can tell that no
// reference to it was left behind.
class TrackedClip : public host::MemoryClip {
 public:
  TrackedClip(const VideoInfo& vi, std::vector<PVideoFrame> frames, bool* destroyed)
      : host::MemoryClip(vi, std::move(frames)), destroyedFlag(destroyed) {}
  ~TrackedClip() override { *destroyedFlag = true; }

 private:
  bool* destroyedFlag;
};

VideoInfo ClipInfo(int pixelType, int width, int height, int frames) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = frames;
  vi.pixel_type = pixelType;
  return vi;
}

host::MemoryClip* GreyClip(int pixelType, int width, int height, int frames, bool* destroyed = nullptr) {
  VideoInfo vi = ClipInfo(pixelType, width, height, frames);
  std::vector<PVideoFrame> list;
  for (int f = 0; f < frames; ++f) {
    PVideoFrame frame = host::MakeFrame(vi, host::AlignedPitch(vi, 16));
    for (int y = 0; y < height; ++y) {
      std::fill_n(frame->GetWritePtr() + y * frame->GetPitch(), frame->GetRowSize(), static_cast<uint8_t>(16 + f));
    }
    list.push_back(frame);
  }
  if (destroyed) return new TrackedClip(vi, list, destroyed);
  return new host::MemoryClip(vi, list);
}

std::string WritePlan(const std::string& name, const std::string& bytes) {
  std::string path = workDir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

AVSValue Invoke(host::ScriptEnvironment& env, IClip* clip, const char* path) {
  AVSValue args[2] = {AVSValue(clip), AVSValue(path)};
  const char* names[2] = {nullptr, "zemFile"};
  return env.Invoke("ZEMIVTC", AVSValue(args, path ? 2 : 1), names);
}

// The message the call fails with, "" when it succeeds; "crossed as another
// type" if something other than AvisynthError reaches the host.
std::string CreationError(host::ScriptEnvironment& env, IClip* clip, const char* path) {
  try {
    AVSValue result = Invoke(env, clip, path);
    return "";
  } catch (const AvisynthError& e) {
    return e.msg ? e.msg : "(null message)";
  } catch (...) {
    return "crossed as another type";
  }
}

// Threads of this process, by a system snapshot.
int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

void LoadingAndRegistration() {
  currentGroup = "loading";
  host::ScriptEnvironment env;
  CHECK_TEXT(env.LoadPlugin(modulePath), "ZEMIVTC Plugin");
  CHECK(env.Functions().size() == 1);
  if (!env.Functions().empty()) {
    CHECK_TEXT(env.Functions()[0].name, "ZEMIVTC");
    CHECK_TEXT(env.Functions()[0].params, "c[zemFile]s");
    CHECK(env.Functions()[0].userData == nullptr);
  }
  // The host finds the entry by the decorated name, as AviSynth 2.5 does.
  HMODULE module = LoadLibraryA(modulePath.c_str());
  CHECK(module != nullptr);
  if (module != nullptr) {
    FARPROC decorated = GetProcAddress(module, "_AvisynthPluginInit2@4");
    CHECK(decorated != nullptr);
    CHECK(decorated == GetProcAddress(module, "AvisynthPluginInit2"));
    FreeLibrary(module);
  }
  // A file that is no module fails with the host's message, not a crash.
  std::string notModule = WritePlan("not_a_module.dll", "MZ but nothing more");
  std::string error;
  try {
    env.LoadPlugin(notModule);
  } catch (const AvisynthError& e) {
    error = e.msg;
  }
  CHECK(error.find("cannot load") != std::string::npos);
  DeleteFileA(notModule.c_str());
}

void CreationErrors() {
  currentGroup = "creation errors";
  host::ScriptEnvironment env;
  env.LoadPlugin(modulePath);
  const std::string plan = WritePlan("plan_small", "0123");

  PClip yuy2(GreyClip(CS_YUY2, 8, 4, 4));
  for (int type : {CS_BGR24, CS_BGR32, CS_YV12}) {
    PClip other(GreyClip(type, 8, 4, 4));
    CHECK_TEXT(CreationError(env, other.get(), plan.c_str()), "Invalid video colorspace");
    // The colour format is tested before the file.
    CHECK_TEXT(CreationError(env, other.get(), nullptr), "Invalid video colorspace");
  }
  CHECK_TEXT(CreationError(env, yuy2.get(), nullptr), "File open error");
  CHECK_TEXT(CreationError(env, yuy2.get(), (workDir + "/no_such_plan").c_str()), "File open error");
  CHECK_TEXT(CreationError(env, yuy2.get(), workDir.c_str()), "File open error");  // a directory
  // Backslashes are as good as slashes in a Windows path.
  std::string backslashed = plan;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  CHECK_TEXT(CreationError(env, yuy2.get(), backslashed.c_str()), "");

  // Binary mode: CR LF and ^Z are plan bytes like any other, not a line end or
  // the end of the file. "\r\n1\x1a" "2" has two frames.
  const std::string binary = WritePlan("plan_binary", std::string("\r\n1\x1a"
                                                                  "2",
                                                                  5));
  try {
    PClip filter = Invoke(env, yuy2.get(), binary.c_str()).AsClip();
    CHECK(filter->GetVideoInfo().num_frames == 2);
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "unexpected error: %s\n", e.msg);
    CHECK(false);
  }
  DeleteFileA(binary.c_str());

  // The largest plan is accepted; one byte more is refused, and the file is
  // closed before the error: the CRT opens without FILE_SHARE_DELETE, so the
  // file cannot be deleted while the module holds it.
  const std::string largest = WritePlan("plan_largest", std::string(10485760, '0'));
  CHECK_TEXT(CreationError(env, yuy2.get(), largest.c_str()), "");
  const std::string tooLong = WritePlan("plan_too_long", std::string(10485761, '0'));
  CHECK_TEXT(CreationError(env, yuy2.get(), tooLong.c_str()), "File too long");
  int fd = _open(tooLong.c_str(), _O_RDONLY | _O_BINARY);
  const bool openBlocksDelete = fd >= 0 && !DeleteFileA(tooLong.c_str());
  if (fd >= 0) _close(fd);
  if (openBlocksDelete) {
    CHECK_TEXT(CreationError(env, yuy2.get(), tooLong.c_str()), "File too long");
    CHECK(DeleteFileA(tooLong.c_str()));
  } else {
    std::printf("note: this system lets an open file be deleted; the closed-file check is skipped\n");
    DeleteFileA(tooLong.c_str());
  }
  DeleteFileA(largest.c_str());

  // No reference to the source clip is left behind by a failed call: the
  // module's own cleanups run while the error passes through it.
  bool destroyed = false;
  {
    PClip tracked(GreyClip(CS_YUY2, 8, 4, 4, &destroyed));
    CHECK_TEXT(CreationError(env, tracked.get(), (workDir + "/no_such_plan").c_str()), "File open error");
  }
  CHECK(destroyed);
  destroyed = false;
  {
    PClip tracked(GreyClip(CS_BGR32, 8, 4, 4, &destroyed));
    CHECK_TEXT(CreationError(env, tracked.get(), plan.c_str()), "Invalid video colorspace");
  }
  CHECK(destroyed);
  DeleteFileA(plan.c_str());
}

void FrameTable() {
  currentGroup = "frame table";
  host::ScriptEnvironment env;
  env.LoadPlugin(modulePath);
  host::MemoryClip* memory = GreyClip(CS_YUY2, 8, 6, 6);
  PClip clip(memory);
  // Frames at positions 1 (code '1'), 4 ('6'), 5 ('2') and 11 ('3').
  const std::string plan = WritePlan("plan_table", "01x06200\n0a3");
  PClip filter = Invoke(env, clip.get(), plan.c_str()).AsClip();
  const VideoInfo& vi = filter->GetVideoInfo();
  CHECK(vi.num_frames == 4);
  CHECK(vi.fps_numerator == 60000 && vi.fps_denominator == 1001);
  CHECK(vi.width == 8 && vi.height == 6 && vi.pixel_type == CS_YUY2);
  // An even position takes frame position/2; an odd one weaves frames
  // position/2 + 1 and position/2, the later asked for first (frame 6 is past
  // the clip's end; the child clip answers with its last frame).
  const std::vector<std::vector<int>> expected = {{1, 0}, {2}, {3, 2}, {6, 5}};
  for (int n = 0; n < 4; ++n) {
    memory->requests.clear();
    filter->GetFrame(n, &env);
    CHECK(memory->requests == expected[n]);
  }
  filter = nullptr;
  DeleteFileA(plan.c_str());

  // An empty plan makes a clip of no frames.
  const std::string empty = WritePlan("plan_empty", "");
  CHECK(Invoke(env, clip.get(), empty.c_str()).AsClip()->GetVideoInfo().num_frames == 0);
  DeleteFileA(empty.c_str());
}

void WorkerThreads() {
  currentGroup = "worker threads";
  SetEnvironmentVariableA("ZEMIVTC_TEST_PROCESSORS", "3");
  _putenv("ZEMIVTC_TEST_PROCESSORS=3");
  host::ScriptEnvironment env;
  env.LoadPlugin(testHooksPath);
  PClip clip(GreyClip(CS_YUY2, 16, 8, 4));
  const std::string plan = WritePlan("plan_threads", "12345612");
  // A first filter settles whatever the system starts on first use.
  Invoke(env, clip.get(), plan.c_str());
  const int before = ThreadCount();
  CHECK(before > 0);
  for (int cycle = 0; cycle < 25; ++cycle) {
    PClip filter = Invoke(env, clip.get(), plan.c_str()).AsClip();
    if (cycle % 5 == 0) {
      CHECK(ThreadCount() == before + 3);
      for (int n = 0; n < filter->GetVideoInfo().num_frames; ++n) filter->GetFrame(n, &env);
    }
    filter = nullptr;
    const int after = ThreadCount();
    if (after != before) std::fprintf(stderr, "cycle %d: %d threads before, %d after\n", cycle, before, after);
    CHECK(after == before);
  }
  // Several filters at once each have their own workers.
  {
    PClip a = Invoke(env, clip.get(), plan.c_str()).AsClip();
    PClip b = Invoke(env, clip.get(), plan.c_str()).AsClip();
    CHECK(ThreadCount() == before + 6);
  }
  CHECK(ThreadCount() == before);
  DeleteFileA(plan.c_str());
  _putenv("ZEMIVTC_TEST_PROCESSORS=");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: win_module_test MODULE TESTHOOKS_MODULE WORKDIR\n");
    return 2;
  }
  modulePath = argv[1];
  testHooksPath = argv[2];
  workDir = argv[3];
  // The work directory and any missing parents.
  for (size_t i = 1; i <= workDir.size(); ++i) {
    if (i == workDir.size() || workDir[i] == '/' || workDir[i] == '\\')
      CreateDirectoryA(workDir.substr(0, i).c_str(), nullptr);
  }
  try {
    LoadingAndRegistration();
    CreationErrors();
    FrameTable();
    WorkerThreads();
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "FAILED [%s]: unexpected error: %s\n", currentGroup, e.msg);
    ++failures;
  }
  std::printf("win_module_test: %d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
