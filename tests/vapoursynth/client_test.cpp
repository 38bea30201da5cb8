// The VapourSynth plugin in a core loaded by path, as a script host runs it:
// a source filter of this client serves random frames that also go to the
// command as Y4M, and ZEMIVTC's frames, times and refusals must be the
// command's. Usage: vapoursynth_client CORE_LIBRARY (the stand-in core), or
// vapoursynth_client --real (libvapoursynth.so.4 from the library path or
// $ZEMIVTC_VAPOURSYNTH; exit status 77, skipped, where there is none).
#include <dlfcn.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>

#include "tests/command_line.h"
#include "vapoursynth/vs_api.h"

namespace {

using testing_support::WriteAll;
const VSAPI* vs = nullptr;
std::string dir;  // scratch folder, ending in '/'

// Twelve random frames (each its planes one after another), served with
// _FieldBased (unless < 0) and a _Field that ZEMIVTC must drop; frame failAt
// fails. Format 0 varies from frame to frame, size 0x0 too.
struct Clip {
  VSVideoFormat format;
  int width, height, fieldBased = -1, failAt = -1;
  std::vector<std::string> frames;
  int PlaneWidth(int p) const { return (p ? width >> format.subSamplingW : width) * format.bytesPerSample; }  // bytes
  int PlaneHeight(int p) const { return p ? height >> format.subSamplingH : height; }
  Clip(uint32_t id, int w, int h) : width(w), height(h) {
    const int bits = id >> 16 & 255, planes = id ? id >> 28 == cfGray ? 1 : 3 : 0;
    format = {int(id >> 28), int(id >> 24 & 15), bits, (bits + 7) / 8, int(id >> 8 & 255), int(id & 255), planes};
    std::mt19937 rng(uint32_t(w * h));
    for (int n = 0; n < 12; ++n) {
      frames.emplace_back(size_t(PlaneWidth(0) * h + (format.numPlanes - 1) * PlaneWidth(1) * PlaneHeight(1)), '\0');
      for (char& b : frames.back()) b = char(rng());
    }
  }
};
const VSFrame* VS_CC ClipFrame(int n, int, void* data, void**, VSFrameContext* ctx, VSCore* core, const VSAPI*) {
  const Clip& c = *static_cast<Clip*>(data);
  if (n == c.failAt) return vs->setFilterError("MemorySource: failing as asked", ctx), nullptr;
  VSFrame* f = vs->newVideoFrame(&c.format, c.width, c.height, nullptr, core);
  const char* from = c.frames[n].data();
  for (int p = 0; p < c.format.numPlanes; ++p)
    for (int y = 0; y < c.PlaneHeight(p); ++y, from += c.PlaneWidth(p))
      memcpy(vs->getWritePtr(f, p) + y * vs->getStride(f, p), from, size_t(c.PlaneWidth(p)));
  if (c.fieldBased >= 0) vs->mapSetInt(vs->getFramePropertiesRW(f), "_FieldBased", c.fieldBased, maReplace);
  vs->mapSetInt(vs->getFramePropertiesRW(f), "_Field", 1, maReplace);
  return f;
}

// The command on the clip as Y4M: exit status, first error line, frames and times (ms).
struct CommandRun {
  int status;
  std::string error;
  std::vector<std::string> frames;
  std::vector<double> times;
};
CommandRun RunCommand(const Clip& c, bool bottomFirst, const std::string& plan) {
  std::string y4m = "YUV4MPEG2 W" + std::to_string(c.width) + " H" + std::to_string(c.height) + " F30000:1001 I" +
                    (bottomFirst ? "b" : "t") + (c.format.subSamplingH ? " C420jpeg\n" : " C422\n");
  for (const std::string& f : c.frames) y4m += "FRAME\n" + f;
  WriteAll(dir + "in.y4m", y4m);
  const auto r = testing_support::RunShell(dir, "$Z -q --plan " + plan + " --timecodes ${D}tc ${D}in.y4m ${D}out.y4m");
  CommandRun run{r.status, r.err.substr(0, r.err.find('\n')), {}, {}};
  const std::string out = testing_support::ReadAll(dir + "out.y4m"), tc = testing_support::ReadAll(dir + "tc");
  const size_t bytes = c.frames[0].size();
  for (size_t at = out.find('\n') + 1; r.status == 0 && out.compare(at, 6, "FRAME\n") == 0; at += 6 + bytes)
    run.frames.push_back(out.substr(at + 6, bytes));
  for (size_t at = tc.find('\n') + 1; at < tc.size(); at = tc.find('\n', at) + 1)
    run.times.push_back(std::stod(&tc[at]));
  return run;
}

// A core with a plugin loaded (the error of the load, or of ZEMIVTC's call,
// in `error`), and ZEMIVTC's node; a message of mtCritical or worse (the
// stand-in's report of a mistake) fails the test.
struct Core {
  VSCore* core = vs->createCore(ccfDisableAutoLoading);
  std::mutex lock;
  std::string log, error;
  VSNode* node = nullptr;

  explicit Core(const char* plugin = ZEMIVTC_VS_PLUGIN) {
    vs->addLogHandler(
        [](int type, const char* msg, void* self) {
          EXPECT_LT(type, mtCritical) << msg;
          std::lock_guard<std::mutex> hold(static_cast<Core*>(self)->lock);
          static_cast<Core*>(self)->log += std::string(msg) + "\n";
        },
        nullptr, this, core);
    error = Load(plugin);
  }
  // ZEMIVTC over a source of the clip, with the plan, tff unless < 0, and what `more` adds.
  Core(Clip& clip, const std::string& plan, int tff, void (*more)(VSMap*) = nullptr) : Core() {
    VSMap* args = vs->createMap();
    const VSVideoInfo vi{clip.format, 30000, 1001, clip.width, clip.height, int(clip.frames.size())};
    VSNode* source =
        vs->createVideoFilter2("MemorySource", &vi, ClipFrame, nullptr, fmParallel, nullptr, 0, &clip, core);
    vs->mapConsumeNode(args, "clip", source, maReplace);
    vs->mapSetData(args, "zemFile", plan.c_str(), -1, dtUtf8, maReplace);
    if (tff >= 0) vs->mapSetInt(args, "tff", tff, maReplace);
    if (more) more(args);
    error = error.empty() ? Call("org.zemivtc.zemivtc", "ZEMIVTC", args, &node) : (vs->freeMap(args), error);
  }
  ~Core() {
    if (node) vs->freeNode(node);
    vs->freeCore(core);
  }
  std::string Load(const char* path) {
    VSMap* args = vs->createMap();
    vs->mapSetData(args, "path", path, -1, dtUtf8, maReplace);
    return Call("com.vapoursynth.std", "LoadPlugin", args);
  }
  // The function's error, else its clip (into *clip); takes the arguments.
  std::string Call(const char* plugin, const char* name, VSMap* args, VSNode** clip = nullptr) {
    VSMap* out = vs->invoke(vs->getPluginByID(plugin, core), name, args);
    vs->freeMap(args);
    const std::string e = vs->mapGetError(out) ? vs->mapGetError(out) : "";
    if (e.empty() && clip) *clip = vs->mapGetNode(out, "clip", 0, nullptr);
    return vs->freeMap(out), e;
  }
  // Every frame, made on three threads at once; null where the core gave an error (into errors).
  std::vector<const VSFrame*> Frames(std::vector<std::string>& errors) {
    if (!node) return ADD_FAILURE() << "no clip: " << error, std::vector<const VSFrame*>{};
    std::vector<const VSFrame*> frames(size_t(vs->getVideoInfo(node)->numFrames));
    errors.resize(frames.size());
    std::atomic<size_t> next{0};
    auto fetch = [&] {
      char message[512];
      for (size_t n; (n = next++) < frames.size();)
        if (!(frames[n] = vs->getFrame(int(n), node, message, sizeof message))) errors[n] = message;
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
       "top field first (no tff argument, and the first frame has"},
      {pfYUV420P8, 38, 20, 1, -1, true, EveryCode, "0/0", "bottom field first (the first frame's _FieldBased is 1)"},
      {pfYUV422P8, 34, 19, 1, 1, false, EveryCode, "0/0", "top field first (the tff argument)"},
      {pfYUV422P8, 34, 18, 2, 0, true, Film, "24000/1001", "bottom field first (the tff argument)"},
      {pfYUV420P8, 38, 24, 2, -1, false, "222222222", "60000/1001", "top field first (the first frame's _FieldBased"},
      {pfYUV422P8, 38, 20, 1, -1, true, "1001010010100101001022222", "0/0", "bottom field first"},
      {pfYUV420P8, 38, 20, 2, -1, false, "000000000000000000000000123", "60000/1001",
       "the plan reaches input frame 13"},
      {pfGray8, 34, 19, 0, -1, false, EveryCode, "0/0", "top field first (no tff argument, and the first frame's _Fi"},
      {pfGray8, 34, 18, 1, -1, true, Film, "24000/1001", "the first frame starts 4.170833 ms into the clip"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.plan) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    WriteAll(dir + "plan", c.plan);
    Clip clip(c.format == pfGray8 ? pfYUV422P8 : c.format, c.width, c.height);
    const CommandRun command = RunCommand(clip, c.bottomFirst, dir + "plan");
    ASSERT_EQ(command.status, 0) << command.error;
    if (c.format == pfGray8) clip.format = {cfGray, stInteger, 8, 1, 0, 0, 1};
    clip.fieldBased = c.fieldBased;
    Core core(clip, dir + "plan", c.tff);
    ASSERT_EQ(core.error, "");
    EXPECT_NE(core.log.find(std::string("ZEMIVTC: ") + c.logged), std::string::npos) << core.log;
    const VSVideoInfo& vi = *vs->getVideoInfo(core.node);
    EXPECT_EQ(std::to_string(vi.fpsNum) + "/" + std::to_string(vi.fpsDen), c.rate);
    ASSERT_EQ(vi.numFrames, int(command.frames.size()));
    std::vector<std::string> errors;
    const std::vector<const VSFrame*> frames = core.Frames(errors);
    int64_t num = 0, den = 1;  // the durations so far, added up as vspipe --timecodes adds them
    for (size_t n = 0; n < frames.size(); ++n) {
      const VSFrame* f = frames[n];
      ASSERT_TRUE(f) << errors[n];
      const char* expected = command.frames[n].data();
      for (int p = 0; p < clip.format.numPlanes; ++p)
        for (int y = 0; y < clip.PlaneHeight(p); expected += clip.PlaneWidth(p), ++y)
          EXPECT_EQ(0, memcmp(vs->getReadPtr(f, p) + y * vs->getStride(f, p), expected, size_t(clip.PlaneWidth(p))))
              << "frame " << n << " plane " << p << " row " << y;
      EXPECT_TRUE(Prop(f, "_FieldBased") == 0 && Prop(f, "_Field") == -1);
      // The command's times from its first frame's start (where vspipe starts), to the nanosecond.
      EXPECT_NEAR(1e3 * double(num) / double(den), command.times[n] - command.times[0], 2e-6) << "frame " << n;
      const int64_t dn = Prop(f, "_DurationNum"), dd = Prop(f, "_DurationDen");
      EXPECT_TRUE(dn > 0 && dd > 0);
      const int64_t common = std::gcd(num * dd + dn * den, den * dd);
      num = (num * dd + dn * den) / common, den = den * dd / common;
      vs->freeFrame(f);
    }
  }
}

// The plugin's refusals, in the command's words; and the core's of
// arguments the function does not take, lacks or takes of another type, in
// the real core's words.
TEST(VapourSynthRefusals, HaveTheCommandsWords) {
  struct {
    uint32_t format;
    int width, height, fieldBased, tff;
    const char* plan;                // null: a file that is not there
    const char* words;               // null: the command's on the same frames
    void (*more)(VSMap*) = nullptr;  // adds to ZEMIVTC's arguments
  } cases[] = {
      {pfYUV420P8, 34, 18, 2, -1, "1", nullptr},
      {pfYUV422P8, 34, 19, 1, -1, "12", nullptr},  // "1" alone needs no field order: no refusal
      {pfYUV422P8, 34, 1, -1, -1, "1", nullptr},
      {pfYUV420P8, 38, 20, -1, -1, "000", nullptr},
      {pfYUV420P8, 38, 20, -1, -1, nullptr, nullptr},
      {pfYUV444P8, 38, 20, -1, -1, "1", "the clip is YUV444P8; ZEMIVTC takes clips of one size in YUV420P8, YUV422P8"},
      {pfRGB24, 38, 20, -1, -1, "1", "the clip is RGB24; ZEMIVTC takes"},
      {pfGray8, 33, 20, -1, -1, "1", "odd width 33 cannot be carried as YUY2"},
      {pfYUV420P8, 38, 20, -1, 2, "1", "tff must be 1 (top field first) or 0 (bottom field first), not 2"},
      {VideoFormatId(cfYUV, stInteger, 10, 1, 1), 38, 20, -1, -1, "1", "the clip is YUV420P10; ZEMIVTC takes"},
      {VideoFormatId(cfYUV, stInteger, 16, 1, 0), 38, 20, -1, -1, "1", "the clip is YUV422P16; ZEMIVTC takes"},
      {VideoFormatId(cfGray, stFloat, 32, 0, 0), 38, 20, -1, -1, "1", "the clip is GrayS; ZEMIVTC takes"},
      {0, 38, 20, -1, -1, "1", "the clip's format varies from frame to frame; ZEMIVTC takes"},
      {pfYUV420P8, 0, 0, -1, -1, "1", "the clip's frame size varies from frame to frame; ZEMIVTC takes"},
      {pfYUV422P8, 34, 18, -1, -1, "1", "no argument(s) named path",
       [](VSMap* m) { vs->mapSetData(m, "path", "p", -1, dtUtf8, maReplace); }},
      {pfYUV422P8, 34, 18, -1, -1, "1", "argument clip is required", [](VSMap* m) { vs->mapDeleteKey(m, "clip"); }},
      {pfYUV422P8, 34, 18, -1, -1, "1", "argument tff is not of the correct type",
       [](VSMap* m) { vs->mapSetFloat(m, "tff", 1, maReplace); }},
  };
  for (const auto& c : cases) {
    Clip clip(c.format, c.width, c.height);
    clip.fieldBased = c.fieldBased;
    WriteAll(dir + "plan", c.plan ? c.plan : "");
    const std::string plan = dir + (c.plan ? "plan" : "missing");
    const std::string words = c.words ? c.words : RunCommand(clip, c.fieldBased == 1, plan).error.substr(9);
    const std::string error = Core(clip, plan, c.tff, c.more).error;
    EXPECT_EQ(error.rfind("ZEMIVTC: " + words, 0), 0u) << error << "\nwanted: " << words;
  }
}

TEST(VapourSynthErrors, ASourceErrorFailsOnlyTheFramesMadeFromIt) {
  Clip clip(pfYUV422P8, 34, 18);
  clip.failAt = 4;  // positions 7, 8 and 9 read frame 4: output frames 6, 7 and 8
  WriteAll(dir + "plan", EveryCode);
  Core core(clip, dir + "plan", -1);
  ASSERT_EQ(core.error, "");
  std::vector<std::string> errors;
  const std::vector<const VSFrame*> frames = core.Frames(errors);
  for (size_t n = 0; n < frames.size(); ++n) {
    EXPECT_EQ(frames[n] == nullptr, n >= 6 && n <= 8) << "frame " << n;
    EXPECT_EQ(frames[n] == nullptr, errors[n].find("MemorySource: failing as asked") != std::string::npos) << errors[n];
    if (frames[n]) vs->freeFrame(frames[n]);
  }
}

// A function the plugin lacks, a plugin loaded twice or into a namespace
// taken: refused in the real core's words. A function gets the user data it
// was registered with.
TEST(VapourSynthCore, RefusesWhatTheRealCoreRefuses) {
  {
    Core core;
    ASSERT_EQ(core.error, "");
    EXPECT_EQ(core.Call("org.zemivtc.zemivtc", "Zemivtc", vs->createMap()),
              "Function 'Zemivtc' not found in org.zemivtc.zemivtc");
    EXPECT_NE(core.Load(ZEMIVTC_VS_PLUGIN).find("already loaded (org.zemivtc.zemivtc)"), std::string::npos);
    EXPECT_NE(core.Load(ZEMIVTC_VS_FIXTURE).find("failed, namespace zemivtc already populated"), std::string::npos);
  }
  Core fixture(ZEMIVTC_VS_FIXTURE);
  EXPECT_EQ(fixture.Call("org.zemivtc.fixture", "UserData", vs->createMap()), "UserData: its own user data");
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
  dir = testing_support::MakeTempDir("vapoursynth");
  const int status = RUN_ALL_TESTS();
  return std::system(("rm -rf " + dir).c_str()), status;
}
