// The VapourSynth plugin in a core loaded by path, as a host runs it: a
// source filter of this client serves random frames that are also written
// as Y4M, and every frame, time and refusal of ZEMIVTC is compared with what
// the command makes of that file.
//   vapoursynth_client CORE_LIBRARY   (the stand-in core)
//   vapoursynth_client --real         libvapoursynth.so.4 from the library path or
//                                     $ZEMIVTC_VAPOURSYNTH; exit 77 (skipped) without one
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

#include "vapoursynth/vs_api.h"

namespace {

const VSAPI* vs = nullptr;
std::string work;  // scratch folder

std::string Read(const std::string& name) {
  std::ifstream in(work + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
std::string Write(const std::string& name, const std::string& bytes) {
  std::ofstream(work + name, std::ios::binary) << bytes;
  return work + name;
}

// Random frames, each its planes one after another.
struct Clip {
  VSVideoFormat format;
  int width, height;
  std::vector<std::string> frames;
  int PlaneWidth(int p) const { return p ? width >> format.subSamplingW : width; }
  int PlaneHeight(int p) const { return p ? height >> format.subSamplingH : height; }
  Clip(uint32_t id, int width, int height, uint32_t seed) : width(width), height(height) {
    const int family = int(id >> 28);
    format = {family, stInteger, 8, 1, int(id >> 8 & 3), int(id & 3), family == cfGray ? 1 : 3};
    std::mt19937 rng(seed);
    for (int n = 0; n < 12; ++n) {
      frames.emplace_back(size_t(width * height + (format.numPlanes - 1) * PlaneWidth(1) * PlaneHeight(1)), '\0');
      for (char& b : frames.back()) b = char(rng());
    }
  }
};

// The command on the clip as Y4M: its exit status, first error line, frames and timecodes.
struct CommandRun {
  int status;
  std::string error;
  std::vector<std::string> frames, timecodes;
};
CommandRun RunCommand(const Clip& clip, bool bottomFirst, const std::string& plan) {
  std::ostringstream y4m;
  y4m << "YUV4MPEG2 W" << clip.width << " H" << clip.height << " F30000:1001 I" << (bottomFirst ? 'b' : 't')
      << (clip.format.subSamplingH ? " C420jpeg\n" : " C422\n");
  for (const std::string& f : clip.frames) y4m << "FRAME\n" << f;
  const std::string command = std::string(ZEMIVTC_COMMAND) + " -q --plan " + plan + " --timecodes " + work + "/tc " +
                              Write("/in.y4m", y4m.str()) + " " + work + "/out.y4m 2>" + work + "/err";
  CommandRun run{WEXITSTATUS(std::system(command.c_str())), Read("/err"), {}, {}};
  run.error = run.error.substr(0, run.error.find('\n'));
  const std::string out = Read("/out.y4m"), tc = Read("/tc");
  const size_t bytes = clip.frames[0].size();
  for (size_t at = out.find('\n') + 1; run.status == 0 && out.compare(at, 6, "FRAME\n") == 0; at += 6 + bytes)
    run.frames.push_back(out.substr(at + 6, bytes));
  for (size_t at = tc.find('\n') + 1; at < tc.size(); at = tc.find('\n', at) + 1)
    run.timecodes.push_back(tc.substr(at, tc.find('\n', at) - at));
  return run;
}

// The source filter: the clip's frames with _FieldBased (unless < 0) and a
// _Field the output must not keep; frame failAt fails.
struct Source {
  const Clip* clip;
  int fieldBased, failAt;
};
const VSFrame* VS_CC SourceGetFrame(int n, int, void* data, void**, VSFrameContext* ctx, VSCore* core, const VSAPI*) {
  const Source& s = *static_cast<Source*>(data);
  if (n == s.failAt) return vs->setFilterError("MemorySource: failing as asked", ctx), nullptr;
  VSFrame* f = vs->newVideoFrame(&s.clip->format, s.clip->width, s.clip->height, nullptr, core);
  const char* from = s.clip->frames[n].data();
  for (int p = 0; p < s.clip->format.numPlanes; ++p)
    for (int y = 0; y < s.clip->PlaneHeight(p); ++y, from += s.clip->PlaneWidth(p))
      std::memcpy(vs->getWritePtr(f, p) + y * vs->getStride(f, p), from, size_t(s.clip->PlaneWidth(p)));
  if (s.fieldBased >= 0) vs->mapSetInt(vs->getFramePropertiesRW(f), "_FieldBased", s.fieldBased, maReplace);
  vs->mapSetInt(vs->getFramePropertiesRW(f), "_Field", 1, maReplace);
  return f;
}

// A core with the plugin loaded. A message of mtCritical or worse (the
// stand-in's report of a mistake) fails the test.
struct Core {
  VSCore* core = vs->createCore(ccfDisableAutoLoading);
  std::mutex lock;
  std::string log;
  VSNode* node = nullptr;

  Core() {
    vs->addLogHandler(
        [](int type, const char* msg, void* self) {
          EXPECT_LT(type, mtCritical) << msg;
          std::lock_guard<std::mutex> hold(static_cast<Core*>(self)->lock);
          static_cast<Core*>(self)->log += std::string(msg) + "\n";
        },
        nullptr, this, core);
    VSMap* args = vs->createMap();
    vs->mapSetData(args, "path", ZEMIVTC_VS_PLUGIN, -1, dtUtf8, maReplace);
    VSMap* loaded = vs->invoke(vs->getPluginByID("com.vapoursynth.std", core), "LoadPlugin", args);
    EXPECT_EQ(vs->mapGetError(loaded), nullptr) << vs->mapGetError(loaded);
    vs->freeMap(loaded);
    vs->freeMap(args);
  }
  ~Core() {
    if (node) vs->freeNode(node);
    vs->freeCore(core);
  }
  // ZEMIVTC over the source: "" and the node kept, or the error.
  std::string Filter(Source& source, const std::string& plan, int tff) {
    const Clip& c = *source.clip;
    const VSVideoInfo vi{c.format, 30000, 1001, c.width, c.height, int(c.frames.size())};
    VSMap* args = vs->createMap();
    VSNode* clip =
        vs->createVideoFilter2("MemorySource", &vi, SourceGetFrame, nullptr, fmParallel, nullptr, 0, &source, core);
    vs->mapConsumeNode(args, "clip", clip, maReplace);
    vs->mapSetData(args, "zemFile", plan.c_str(), -1, dtUtf8, maReplace);
    if (tff >= 0) vs->mapSetInt(args, "tff", tff, maReplace);
    VSMap* out = vs->invoke(vs->getPluginByID("org.zemivtc.zemivtc", core), "ZEMIVTC", args);
    const std::string error = vs->mapGetError(out) ? vs->mapGetError(out) : "";
    node = error.empty() ? vs->mapGetNode(out, "clip", 0, nullptr) : nullptr;
    vs->freeMap(out);
    vs->freeMap(args);
    return error;
  }
  // Every frame, made on three threads at once; null where the core gave an error (into errors).
  std::vector<const VSFrame*> Frames(std::vector<std::string>& errors) {
    std::vector<const VSFrame*> frames(size_t(vs->getVideoInfo(node)->numFrames));
    errors.resize(frames.size());
    std::atomic<size_t> next{0};
    auto fetch = [&] {
      char error[512];
      for (size_t n; (n = next++) < frames.size();)
        if (!(frames[n] = vs->getFrame(int(n), node, error, sizeof error))) errors[n] = error;
    };
    std::thread a(fetch), b(fetch);
    fetch();
    a.join(), b.join();
    return frames;
  }
};

int64_t Prop(const VSFrame* f, const char* key) {
  int error = 0;
  const int64_t value = vs->mapGetInt(vs->getFramePropertiesRO(f), key, 0, &error);
  return error ? -1 : value;
}

const char* const EveryCode = "1234560123456";  // every code at an even and at an odd position
const char* const Film = "10010100101001010010";

TEST(VapourSynthFrames, AreTheCommandsFramesAndTimes) {
  struct {
    uint32_t format;  // pfGray8: the luma of the YUV422P8 run
    int width, height, fieldBased, tff;
    bool bottomFirst;
    const char *plan, *rate, *logged;
  } cases[] = {
      {pfYUV420P8, 38, 20, -1, -1, false, EveryCode, "0/0",
       "top field first (no tff argument, and the first frame has no"},
      {pfYUV420P8, 38, 20, 1, -1, true, EveryCode, "0/0", "bottom field first (the first frame's _FieldBased is 1)"},
      {pfYUV422P8, 34, 19, 1, 1, false, EveryCode, "0/0", "top field first (the tff argument)"},
      {pfYUV422P8, 34, 18, 2, 0, true, Film, "24000/1001", "bottom field first (the tff argument)"},
      {pfYUV420P8, 38, 24, 2, -1, false, "222222222", "60000/1001",
       "top field first (the first frame's _FieldBased is 2)"},
      {pfYUV422P8, 38, 20, 1, -1, true, "1001010010100101001022222", "0/0", "bottom field first"},
      {pfYUV420P8, 38, 20, 2, -1, false, "000000000000000000000000123", "60000/1001",
       "the plan reaches input frame 13 but the clip has 12"},
      {pfGray8, 34, 19, 0, -1, false, EveryCode, "0/0", "top field first (no tff argument, and the first frame's _Fi"},
      {pfGray8, 34, 18, 1, -1, true, Film, "24000/1001", "bottom field first (the first frame's _FieldBased is 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.plan) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    Clip clip(c.format == pfGray8 ? pfYUV422P8 : c.format, c.width, c.height, uint32_t(c.width * c.height));
    const CommandRun command = RunCommand(clip, c.bottomFirst, Write("/plan", c.plan));
    ASSERT_EQ(command.status, 0) << command.error;
    ASSERT_EQ(command.timecodes.size(), command.frames.size());
    if (c.format == pfGray8) clip.format.numPlanes = 1, clip.format.colorFamily = cfGray, clip.format.subSamplingW = 0;
    Core core;
    Source source{&clip, c.fieldBased, -1};
    ASSERT_EQ(core.Filter(source, Write("/plan", c.plan), c.tff), "");
    EXPECT_NE(core.log.find(std::string("ZEMIVTC: ") + c.logged), std::string::npos) << core.log;
    const VSVideoInfo& vi = *vs->getVideoInfo(core.node);
    EXPECT_EQ(std::to_string(vi.fpsNum) + "/" + std::to_string(vi.fpsDen), c.rate);
    ASSERT_EQ(vi.numFrames, int(command.frames.size()));
    std::vector<std::string> errors;
    const std::vector<const VSFrame*> frames = core.Frames(errors);
    int64_t num = 0, den = 1;  // the durations so far, summed as vspipe --timecodes sums them
    for (size_t n = 0; n < frames.size(); ++n) {
      const VSFrame* f = frames[n];
      const char* expected = command.frames[n].data();
      for (int p = 0; f && p < clip.format.numPlanes; ++p)
        for (int y = 0; y < clip.PlaneHeight(p); expected += clip.PlaneWidth(p), ++y)
          EXPECT_EQ(0,
                    std::memcmp(vs->getReadPtr(f, p) + y * vs->getStride(f, p), expected, size_t(clip.PlaneWidth(p))))
              << "frame " << n << " plane " << p << " row " << y;
      EXPECT_TRUE(f && Prop(f, "_FieldBased") == 0 && Prop(f, "_Field") == -1) << errors[n];
      // The command's times from its first frame's start (vspipe's 0), to the nanosecond.
      EXPECT_NEAR(1e3 * double(num) / double(den), std::stod(command.timecodes[n]) - std::stod(command.timecodes[0]),
                  2e-6);
      const int64_t dn = f ? Prop(f, "_DurationNum") : 0, dd = f ? Prop(f, "_DurationDen") : 1;
      EXPECT_TRUE(dn > 0 && dd > 0);
      num = num * dd + dn * den, den *= dd;
      const int64_t common = std::gcd(num, den);
      num /= common, den /= common;
      if (f) vs->freeFrame(f);
    }
  }
}

TEST(VapourSynthRefusals, HaveTheCommandsWords) {
  struct {
    uint32_t format;
    int width, height, fieldBased, tff;
    const char* plan;   // null: a file that is not there
    const char* words;  // null: the command's on the same frames
  } cases[] = {
      {pfYUV420P8, 34, 18, 2, -1, "1", nullptr},
      {pfYUV422P8, 34, 19, 1, -1, "1", nullptr},
      {pfYUV422P8, 34, 1, -1, -1, "1", nullptr},
      {pfYUV420P8, 38, 20, -1, -1, "000", nullptr},
      {pfYUV420P8, 38, 20, -1, -1, nullptr, nullptr},
      {pfYUV444P8, 38, 20, -1, -1, "1", "the clip is YUV444P8; ZEMIVTC takes clips of one size in YUV420P8, YUV422P8"},
      {pfRGB24, 38, 20, -1, -1, "1", "the clip is RGB24; ZEMIVTC takes"},
      {pfGray8, 33, 20, -1, -1, "1", "odd width 33 cannot be carried as YUY2"},
      {pfYUV420P8, 38, 20, -1, 2, "1", "tff must be 1 (top field first) or 0 (bottom field first), not 2"},
  };
  for (const auto& c : cases) {
    const Clip clip(c.format, c.width, c.height, 1);
    const std::string plan = c.plan ? Write("/plan", c.plan) : work + "/missing";
    const std::string words = c.words ? c.words : RunCommand(clip, c.fieldBased == 1, plan).error.substr(9);
    Core core;
    Source source{&clip, c.fieldBased, -1};
    const std::string error = core.Filter(source, plan, c.tff);
    EXPECT_EQ(error.rfind("ZEMIVTC: " + words, 0), 0u) << error << "\nwanted: " << words;
  }
}

TEST(VapourSynthErrors, ASourceErrorFailsOnlyTheFramesMadeFromIt) {
  const Clip clip(pfYUV422P8, 34, 18, 7);
  Core core;
  Source source{&clip, -1, 4};  // positions 7, 8 and 9 read frame 4: output frames 6, 7 and 8
  ASSERT_EQ(core.Filter(source, Write("/plan", EveryCode), -1), "");
  std::vector<std::string> errors;
  const std::vector<const VSFrame*> frames = core.Frames(errors);
  for (size_t n = 0; n < frames.size(); ++n) {
    EXPECT_EQ(frames[n] == nullptr, n >= 6 && n <= 8) << "frame " << n;
    EXPECT_EQ(frames[n] == nullptr, errors[n].find("MemorySource: failing as asked") != std::string::npos) << errors[n];
    if (frames[n]) vs->freeFrame(frames[n]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const char* named = getenv("ZEMIVTC_VAPOURSYNTH");
  const bool real = argc > 1 && std::string(argv[1]) == "--real", search = real && !(named && *named);
  const std::string path = !real ? (argc > 1 ? argv[1] : "") : search ? "libvapoursynth.so.4" : named;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!library && search)
    return std::puts("real VapourSynth core SKIPPED: no libvapoursynth.so.4, ZEMIVTC_VAPOURSYNTH unset"), 77;
  auto get = library ? reinterpret_cast<VSGetVapourSynthAPI>(dlsym(library, "getVapourSynthAPI")) : nullptr;
  if (!get || !(vs = get(VapourSynthApiVersion)))
    return std::fprintf(stderr, "no API 4.0 core in %s\n", path.c_str()), 1;
  char folder[] = "/tmp/zemivtc-vs-XXXXXX";
  work = mkdtemp(folder);
  const int status = RUN_ALL_TESTS();
  return std::system(("rm -rf " + work).c_str()), status;
}
