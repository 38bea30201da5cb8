// The VapourSynth plugin driven through a core loaded by path, as a script
// host would: a source filter of this client's own serves frames that are
// also written as Y4M, and every frame, refusal and time of ZEMIVTC is
// checked against what the command makes of that file.
//   vapoursynth_client CORE_LIBRARY   the stand-in core (tests/vapoursynth)
//   vapoursynth_client --real         libvapoursynth.so.4 from the library
//                                     path or $ZEMIVTC_VAPOURSYNTH; exits 77
//                                     (skipped) when there is none
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vapoursynth/vs_api.h"

namespace {

const VSAPI* vs = nullptr;
std::string work;  // scratch folder

using Bytes = std::vector<uint8_t>;
std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A clip's frames, each its planes one after another.
struct Clip {
  VSVideoFormat format;
  int width, height;
  std::vector<Bytes> frames;
  int PlaneWidth(int p) const { return p ? width >> format.subSamplingW : width; }
  int PlaneHeight(int p) const { return p ? height >> format.subSamplingH : height; }
  size_t FrameBytes() const {
    size_t bytes = 0;
    for (int p = 0; p < format.numPlanes; ++p) bytes += size_t(PlaneWidth(p)) * PlaneHeight(p);
    return bytes;
  }
};

VSVideoFormat Format(uint32_t id) {
  const int family = static_cast<int>(id >> 28);
  return {family, stInteger, 8, 1, static_cast<int>(id >> 8 & 3), static_cast<int>(id & 3), family == cfGray ? 1 : 3};
}

Clip RandomClip(uint32_t format, int width, int height, int frames, uint32_t seed) {
  Clip clip{Format(format), width, height, {}};
  std::mt19937 rng(seed);
  for (int n = 0; n < frames; ++n) {
    clip.frames.emplace_back(clip.FrameBytes());
    for (uint8_t& b : clip.frames.back()) b = static_cast<uint8_t>(rng());
  }
  return clip;
}

// The command's run on the clip as Y4M: its exit status, first error line,
// frames and timecodes.
struct CommandRun {
  int status;
  std::string error;
  std::vector<std::string> frames, timecodes;
};
CommandRun RunCommand(const Clip& clip, bool bottomFirst, const std::string& planPath) {
  const bool yuv420 = clip.format.subSamplingH == 1;
  std::ofstream(work + "/in.y4m", std::ios::binary)
      << "YUV4MPEG2 W" << clip.width << " H" << clip.height << " F30000:1001 I" << (bottomFirst ? 'b' : 't')
      << (yuv420 ? " C420jpeg\n" : " C422\n");
  std::ofstream in(work + "/in.y4m", std::ios::binary | std::ios::app);
  for (const Bytes& f : clip.frames) in << "FRAME\n" << std::string(f.begin(), f.end());
  in.close();
  const int status = std::system((std::string(ZEMIVTC_COMMAND) + " -q --plan " + planPath + " --timecodes " + work +
                                  "/out.tc " + work + "/in.y4m " + work + "/out.y4m 2>" + work + "/err")
                                     .c_str());
  CommandRun run{WEXITSTATUS(status), Read(work + "/err"), {}, {}};
  run.error = run.error.substr(0, run.error.find('\n'));
  const std::string out = Read(work + "/out.y4m");
  for (size_t at = out.find('\n') + 1; run.status == 0 && out.compare(at, 6, "FRAME\n") == 0; at += clip.FrameBytes())
    run.frames.push_back(out.substr(at += 6, clip.FrameBytes()));
  std::istringstream tc(Read(work + "/out.tc"));
  for (std::string line; std::getline(tc, line);)
    if (line[0] != '#') run.timecodes.push_back(line);
  return run;
}

// The source filter: the clip's frames with _FieldBased (unless < 0) and a
// _Field the output must drop; frame failAt fails.
struct Source {
  const Clip* clip;
  int fieldBased;
  int failAt;
};
const VSFrame* VS_CC SourceGetFrame(int n, int, void* data, void**, VSFrameContext* ctx, VSCore* core,
                                    const VSAPI* api) {
  const Source& s = *static_cast<Source*>(data);
  if (n == s.failAt) return api->setFilterError("MemorySource: failing as asked", ctx), nullptr;
  VSFrame* f = api->newVideoFrame(&s.clip->format, s.clip->width, s.clip->height, nullptr, core);
  const uint8_t* from = s.clip->frames[n].data();
  for (int p = 0; p < s.clip->format.numPlanes; ++p)
    for (int y = 0; y < s.clip->PlaneHeight(p); ++y, from += s.clip->PlaneWidth(p))
      std::memcpy(api->getWritePtr(f, p) + y * api->getStride(f, p), from, s.clip->PlaneWidth(p));
  VSMap* props = api->getFramePropertiesRW(f);
  if (s.fieldBased >= 0) api->mapSetInt(props, "_FieldBased", s.fieldBased, maReplace);
  api->mapSetInt(props, "_Field", 1, maReplace);
  return f;
}

// One core with the plugin loaded. Every message of mtCritical or worse
// (the stand-in's reports of a plugin's mistakes) fails the test.
struct Core {
  VSCore* core = vs->createCore(ccfDisableAutoLoading);
  std::mutex lock;
  std::string log;
  VSPlugin* plugin = nullptr;
  VSNode* node = nullptr;

  Core() {
    vs->addLogHandler(
        [](int type, const char* msg, void* self) {
          std::lock_guard<std::mutex> hold(static_cast<Core*>(self)->lock);
          static_cast<Core*>(self)->log += std::string(msg) + "\n";
          EXPECT_LT(type, mtCritical) << msg;
        },
        nullptr, this, core);
    VSMap* args = vs->createMap();
    vs->mapSetData(args, "path", ZEMIVTC_VS_PLUGIN, -1, dtUtf8, maReplace);
    VSMap* loaded = vs->invoke(vs->getPluginByID("com.vapoursynth.std", core), "LoadPlugin", args);
    EXPECT_EQ(vs->mapGetError(loaded), nullptr) << vs->mapGetError(loaded);
    vs->freeMap(loaded);
    vs->freeMap(args);
    plugin = vs->getPluginByID("org.zemivtc.zemivtc", core);
  }
  ~Core() {
    if (node) vs->freeNode(node);
    vs->freeCore(core);
  }
  // ZEMIVTC over the source; the error, or "" with the node kept.
  std::string Filter(Source& source, const std::string& planPath, int tff) {
    const VSVideoInfo vi{source.clip->format,
                         30000,
                         1001,
                         source.clip->width,
                         source.clip->height,
                         static_cast<int>(source.clip->frames.size())};
    VSMap* args = vs->createMap();
    vs->mapConsumeNode(
        args, "clip",
        vs->createVideoFilter2("MemorySource", &vi, SourceGetFrame, nullptr, fmParallel, nullptr, 0, &source, core),
        maReplace);
    if (!planPath.empty()) vs->mapSetData(args, "zemFile", planPath.c_str(), -1, dtUtf8, maReplace);
    if (tff >= 0) vs->mapSetInt(args, "tff", tff, maReplace);
    VSMap* out = vs->invoke(plugin, "ZEMIVTC", args);
    const std::string error = vs->mapGetError(out) ? vs->mapGetError(out) : "";
    if (error.empty()) node = vs->mapGetNode(out, "clip", 0, nullptr);
    vs->freeMap(out);
    vs->freeMap(args);
    return error;
  }
  // Every frame of the node, made on three threads at once; null where the
  // core gave an error, which goes into `errors`.
  std::vector<const VSFrame*> Frames(std::vector<std::string>* errors = nullptr) {
    std::vector<const VSFrame*> frames(static_cast<size_t>(vs->getVideoInfo(node)->numFrames));
    std::vector<std::string> messages(frames.size());
    std::atomic<size_t> next{0};
    auto fetch = [&] {
      char error[512];
      for (size_t n; (n = next++) < frames.size();)
        if (!(frames[n] = vs->getFrame(static_cast<int>(n), node, error, sizeof error))) messages[n] = error;
    };
    std::thread a(fetch), b(fetch);
    fetch();
    a.join(), b.join();
    if (errors) *errors = messages;
    return frames;
  }
};

std::string PlanFile(const std::string& plan) {
  std::ofstream(work + "/plan.zem", std::ios::binary) << plan;
  return work + "/plan.zem";
}
int64_t Prop(const VSFrame* f, const char* key) {
  int error = 0;
  const int64_t value = vs->mapGetInt(vs->getFramePropertiesRO(f), key, 0, &error);
  return error ? -1 : value;
}

const char* const EveryCode = "1234560123456";  // every code at an even and at an odd position
const char* const Film = "10010100101001010010";
const char* const Video = "222222222";
const char* const Mixed = "1001010010100101001022222";
const char* const PastTheEnd = "000000000000000000000000123";

TEST(VapourSynthFrames, AreTheCommandsFramesAndTimes) {
  struct Case {
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
      {pfYUV420P8, 38, 24, 2, -1, false, Video, "60000/1001", "top field first (the first frame's _FieldBased is 2)"},
      {pfYUV422P8, 38, 20, 1, -1, true, Mixed, "0/0", "bottom field first"},
      {pfYUV420P8, 38, 20, 2, -1, false, PastTheEnd, "60000/1001",
       "the plan reaches input frame 13 but the clip has 12"},
      {pfGray8, 34, 19, 0, -1, false, EveryCode, "0/0", "top field first (no tff argument, and the first frame's _Fi"},
      {pfGray8, 34, 18, 1, -1, true, Film, "24000/1001", "bottom field first (the first frame's _FieldBased is 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.plan) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    const bool gray = c.format == pfGray8;
    Clip clip = RandomClip(gray ? pfYUV422P8 : c.format, c.width, c.height, 12, c.width * 100 + c.height);
    const CommandRun command = RunCommand(clip, c.bottomFirst, PlanFile(c.plan));
    ASSERT_EQ(command.status, 0) << command.error;
    if (gray) {
      clip.format = Format(pfGray8);
      for (Bytes& f : clip.frames) f.resize(clip.FrameBytes());
    }
    Core core;
    Source source{&clip, c.fieldBased, -1};
    ASSERT_EQ(core.Filter(source, PlanFile(c.plan), c.tff), "");
    EXPECT_NE(core.log.find(std::string("ZEMIVTC: ") + c.logged), std::string::npos) << core.log;
    const VSVideoInfo& vi = *vs->getVideoInfo(core.node);
    EXPECT_EQ(std::to_string(vi.fpsNum) + "/" + std::to_string(vi.fpsDen), c.rate);
    ASSERT_EQ(vi.numFrames, static_cast<int>(command.frames.size()));
    ASSERT_EQ(command.timecodes.size(), command.frames.size());
    int64_t num = 0, den = 1;  // the sum of the durations so far, as vspipe adds them
    std::vector<const VSFrame*> frames = core.Frames();
    for (size_t n = 0; n < frames.size(); ++n) {
      const VSFrame* f = frames[n];
      ASSERT_NE(f, nullptr);
      const char* expected = command.frames[n].data();
      for (int p = 0; p < clip.format.numPlanes; ++p)
        for (int y = 0; y < clip.PlaneHeight(p); expected += clip.PlaneWidth(p), ++y)
          ASSERT_EQ(0, std::memcmp(vs->getReadPtr(f, p) + y * vs->getStride(f, p), expected, clip.PlaneWidth(p)))
              << "frame " << n << " plane " << p << " row " << y;
      EXPECT_EQ(Prop(f, "_FieldBased"), 0);
      EXPECT_EQ(Prop(f, "_Field"), -1);
      // The command's times from its first frame's start, to the nanosecond.
      const double ms = std::stod(command.timecodes[n]) - std::stod(command.timecodes[0]);
      EXPECT_NEAR(1e3 * double(num) / double(den), ms, 2e-6) << "frame " << n;
      const int64_t dn = Prop(f, "_DurationNum"), dd = Prop(f, "_DurationDen");
      ASSERT_GT(dn, 0);
      ASSERT_GT(dd, 0);
      num = num * dd + dn * den, den *= dd;
      const int64_t common = std::gcd(num, den);
      num /= common, den /= common;
      vs->freeFrame(f);
    }
  }
}

TEST(VapourSynthRefusals, HaveTheCommandsWords) {
  struct Case {
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
  for (const Case& c : cases) {
    const Clip clip = RandomClip(c.format, c.width, c.height, 2, 1);
    const std::string plan = c.plan ? PlanFile(c.plan) : work + "/missing.zem";
    std::string words = c.words ? c.words : "";
    if (!c.words) {
      const CommandRun command = RunCommand(clip, c.fieldBased == 1, plan);
      ASSERT_NE(command.status, 0);
      words = command.error.substr(std::strlen("zemivtc: "));
    }
    Core core;
    Source source{&clip, c.fieldBased, -1};
    const std::string error = core.Filter(source, plan, c.tff);
    EXPECT_EQ(error.rfind("ZEMIVTC: " + words, 0), 0u) << error << "\nwanted: " << words;
  }
}

TEST(VapourSynthErrors, ASourceErrorFailsOnlyTheFramesMadeFromIt) {
  const Clip clip = RandomClip(pfYUV422P8, 34, 18, 12, 7);
  Core core;
  Source source{&clip, -1, 4};  // positions 7, 8 and 9 read frame 4: output frames 6, 7 and 8
  ASSERT_EQ(core.Filter(source, PlanFile(EveryCode), -1), "");
  std::vector<std::string> errors;
  const std::vector<const VSFrame*> frames = core.Frames(&errors);
  for (size_t n = 0; n < frames.size(); ++n) {
    EXPECT_EQ(frames[n] == nullptr, n >= 6 && n <= 8) << "frame " << n;
    if (frames[n])
      vs->freeFrame(frames[n]);
    else
      EXPECT_NE(errors[n].find("MemorySource: failing as asked"), std::string::npos) << errors[n];
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const char* named = getenv("ZEMIVTC_VAPOURSYNTH");
  const bool real = argc > 1 && std::string(argv[1]) == "--real";
  const std::string path = !real ? (argc > 1 ? argv[1] : "") : named && *named ? named : "libvapoursynth.so.4";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!library && real && !(named && *named)) {
    std::printf(
        "real VapourSynth core SKIPPED: no libvapoursynth.so.4 on the library path, ZEMIVTC_VAPOURSYNTH unset\n");
    return 77;
  }
  auto get = library ? reinterpret_cast<VSGetVapourSynthAPI>(dlsym(library, "getVapourSynthAPI")) : nullptr;
  if (!get || !(vs = get(VapourSynthApiVersion))) {
    std::fprintf(stderr, "cannot load the core %s: %s\n", path.c_str(), library ? "no API 4.0" : dlerror());
    return 1;
  }
  char folder[] = "/tmp/zemivtc-vs-XXXXXX";
  work = mkdtemp(folder);
  const int status = RUN_ALL_TESTS();
  std::system(("rm -rf " + work).c_str());
  return status;
}
