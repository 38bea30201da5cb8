// Drives a host of the C interface through its exports and checks ZEMIVTC in
// it: the stand-in, or a real host (AviSynth+ on Linux, AviSynth 2.6.0 under
// Wine). Its own source filter makes noise frames; every output frame must be
// the command's path on packed rows (convert/, compose/), with _FieldBased and
// the durations where the host has properties; then every refusal's words, a
// source frame's error, the timecodes file, the MT mode, two instances on two
// threads (stand-in) or Prefetch(2) (AviSynth+), nothing left alive (stand-in).
//   avs_c_client HOST_LIBRARY MODULE WORKDIR [local|global [optional]]
#include "avisynth_c/avs_c.h"
#include "compose/compose.h"
#include "convert/planar_packed.h"
#include "plan/frame_times.h"
#include "platform/platform.h"
#if defined(_WIN32)
#if defined(_WIN64)
#include "tests/abi/win_runtime.h"
#else
#include "tests/abi/eh3_fix.h"  // AviSynth 2.6 under Wine
#endif
WINRT_RUNTIME(AvsCClientTypeInfoTable)
using winrt::Print;
void* OpenHost(const char* path, bool) {
  void* dll = LoadLibraryExA(path, nullptr, 0x8);  // its own folder first for what it imports
#if !defined(_WIN64)
  if (dll) PatchImport(dll, "msvcrt.dll", "_except_handler3", reinterpret_cast<void*>(Eh3Handler));
#endif
  return dll;
}
#define Symbol GetProcAddress
int ReadText(const char* path, char* text, int capacity) {
  const int fd = _open(path, winrt::kOpenRead), n = fd < 0 ? -1 : _read(fd, text, capacity);
  return fd < 0 ? -1 : (_close(fd), n);
}
#else
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <string>
namespace winrt {
struct {
  int checks, failures;
  const char* group;
} tally;
bool SameText(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }
bool WriteWholeFile(const char* path, const void* bytes, unsigned count) {
  FILE* f = fopen(path, "wb");
  return f && fwrite(bytes, 1, count, f) == count && fclose(f) == 0;
}
const char* JoinPath(const char* dir, const char* name) { return strdup((std::string(dir) + "/" + name).c_str()); }
}  // namespace winrt
#define Print(fd, ...) fprintf(fd == 1 ? stdout : stderr, __VA_ARGS__)
#define CHECK(c)          \
  (++winrt::tally.checks, \
   (c) || (Print(2, "FAILED [%s] line %d: %s\n", winrt::tally.group, __LINE__, #c), ++winrt::tally.failures, false))
void* OpenHost(const char* path, bool global) { return dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL)); }
#define Symbol dlsym
int ReadText(const char* path, char* text, int capacity) {
  FILE* f = fopen(path, "rb");
  const int n = f ? static_cast<int>(fread(text, 1, capacity, f)) : -1;
  return f ? (fclose(f), n) : -1;
}
#endif
using winrt::SameText;
using winrt::tally;

namespace {

#define CLIENT_FUNCTIONS(X)                                                                  \
  X(AvsEnv*, createEnv, avs_create_script_environment, (int))                                \
  X(void, deleteEnv, avs_delete_script_environment, (AvsEnv*))                               \
  X(AvsValue, invoke, avs_invoke, (AvsEnv*, const char*, AvsValue, const char**))            \
  X(void, releaseValue, avs_release_value, (AvsValue))                                       \
  X(AvsClip*, takeClip, avs_take_clip, (AvsValue, AvsEnv*))                                  \
  X(const AvsVideoInfo*, videoInfo, avs_get_video_info, (AvsClip*))                          \
  X(int, setCacheHints, avs_set_cache_hints, (AvsClip*, int, int))                           \
  X(AvsVideoFrame*, copyFrame, avs_copy_video_frame, (AvsVideoFrame*))                       \
  X(const AvsMap*, propsRo, avs_get_frame_props_ro, (AvsEnv*, const AvsVideoFrame*))         \
  X(int64_t, propGetInt, avs_prop_get_int, (AvsEnv*, const AvsMap*, const char*, int, int*)) \
  X(int, standinFaults, StandinFaults, ())
#define SLOT(ret, slot, name, params) ret(AVSC_CC* slot) params;
struct {
  CLIENT_FUNCTIONS(SLOT)
} host;
AvsApi avs;
AvsEnv* env;
const char* workDir;
constexpr const char* kPlan =
    "00112233445566"
    "1234560654321"
    "3x\n5"
    "21436";  // every code, even and odd
constexpr int kSourceFrames = 24, kPlanFrames = 31;

bool StartsWith(const char* s, const char* prefix) {
  while (*prefix && *s == *prefix) ++s, ++prefix;
  return *prefix == 0;
}
struct Case {
  uint32_t type;
  int width, height, imageType;
  const char* order;      // fieldOrder=, or null
  int fpsNum, fpsDen;     // 0: not given
  const char* planFile;   // in WORKDIR; null: no zemFile
  const char* timecodes;  // in WORKDIR, or null
  const char* want;       // the refusal's first words; null: a clip
};
// A format's planes (Y, U, V, or YUY2's one) and convert/'s layout for it.
struct Shape {
  int planes, ids[3], rowBytes[3], rows[3];
  PackedLayout layout;
  uint8_t* Plane(uint8_t* p, int q) const { return q ? Plane(p, q - 1) + rowBytes[q - 1] * rows[q - 1] : p; }
};
Shape ShapeOf(uint32_t type, int w, int h, bool mirrored) {
  const bool is420 = (type & ~AvsCsPlaneOrderMask) == (AvsCsYv12 & ~AvsCsPlaneOrderMask);
  if (type == AvsCsYuy2) return Shape{1, {AvsPlaneDefault}, {2 * w}, {h}, {PlanarYuv422, mirrored}};
  return Shape{3,
               {AvsPlaneY, AvsPlaneU, AvsPlaneV},
               {w, w / 2, w / 2},
               {h, h >> is420, h >> is420},
               {is420 ? PlanarYuv420 : PlanarYuv422, mirrored}};
}
// Source frame k's planes one after another (Y, U, V).
void SourcePlanes(const Shape& s, int k, uint8_t* p) {
  for (int q = 0; q < s.planes; ++q) {
    for (int y = 0; y < s.rows[q]; ++y) {
      for (int x = 0; x < s.rowBytes[q]; ++x) *p++ = ((k * 7919 + q * 104729 + y * 2003 + x) * 2654435761u) >> 24;
    }
  }
}

// ZemTestSource(type, width, height, frames, imageType, failAt): every frame
// made at once and held, as a host's cache holds frames.
struct Source {
  int count, failAt;
  AvsVideoFrame* frames[kSourceFrames];
};
AvsVideoFrame* AVSC_CC SourceGetFrame(AvsFilterInfo* fi, int n) {
  const Source& s = *static_cast<Source*>(fi->userData);
  if (n == s.failAt) return fi->error = "ZemTestSource: frame refused", nullptr;
  return host.copyFrame(s.frames[n < 0 ? 0 : n >= s.count ? s.count - 1 : n]);
}
void AVSC_CC SourceFree(AvsFilterInfo* fi) {
  Source* s = static_cast<Source*>(fi->userData);
  for (int k = 0; k < s->count; ++k) avs.releaseVideoFrame(s->frames[k]);
  free(s);
}
AvsValue AVSC_CC MakeSource(AvsEnv* e, AvsValue args, void*) {
  int a[6];
  for (int i = 0; i < 6; ++i) a[i] = AvsArrayElement(args, i).d.integer;
  AvsValue blank = host.invoke(e, "BlankClip", AvsValue{'a', 0, {nullptr}}, nullptr), v;
  AvsFilterInfo* fi = nullptr;
  AvsClip* clip = avs.newCFilter(e, &fi, blank, 1);
  fi->vi = AvsVideoInfo{a[1], a[2], 30000, 1001, a[3], a[0], 0, 0, 0, 0, a[4]};
  Source* s = static_cast<Source*>(malloc(sizeof(Source)));
  s->count = a[3], s->failAt = a[5];
  const Shape shape = ShapeOf(a[0], a[1], a[2], false);
  uint8_t* planes = static_cast<uint8_t*>(malloc(4 * a[1] * a[2]));
  for (int k = 0; k < s->count; ++k) {  // pixels for the formats the module takes
    s->frames[k] = avs.newVideoFrameA(e, &fi->vi, 16);
    SourcePlanes(shape, k, planes);
    for (int q = 0; q < shape.planes && (a[0] == int(AvsCsYuy2) || (a[0] & 0xFFFFFCE7) == int(0xA0000000)); ++q) {
      for (int y = 0; y < shape.rows[q]; ++y) {
        memcpy(AvsWritePtr(avs, s->frames[k], shape.ids[q]) + y * AvsPitch(avs, s->frames[k], shape.ids[q]),
               shape.Plane(planes, q) + y * shape.rowBytes[q], shape.rowBytes[q]);
      }
    }
  }
  fi->userData = s, fi->getFrame = SourceGetFrame, fi->freeFilter = SourceFree;
  avs.setToClip(&v, clip);
  return avs.releaseClip(clip), host.releaseValue(blank), free(planes), v;
}

// ZEMIVTC over a new source: the clip, or the error value.
AvsValue Zem(const Case& c, int failAt) {
  AvsValue args[6], list[6];
  const int ints[6] = {static_cast<int>(c.type), c.width, c.height, kSourceFrames, c.imageType, failAt};
  for (int i = 0; i < 6; ++i) list[i] = AvsValue{'i', 0, {}}, list[i].d.integer = ints[i];
  args[0] = host.invoke(env, "ZemTestSource", AvsValue{'a', 6, {list}}, nullptr);
  const char* names[6] = {nullptr};
  int n = 1;
  auto add = [&](const char* name, const char* text, int number) {
    names[n] = name, args[n] = AvsValue{'s', 0, {const_cast<char*>(text)}};
    if (!text) args[n].type = 'i', args[n].d.integer = number;
    ++n;
  };
  if (c.planFile) add("zemFile", winrt::JoinPath(workDir, c.planFile), 0);
  if (c.order) add("fieldOrder", c.order, 0);
  if (c.fpsNum) add("fpsNum", nullptr, c.fpsNum);
  if (c.fpsDen) add("fpsDen", nullptr, c.fpsDen);
  if (c.timecodes) add("timecodes", winrt::JoinPath(workDir, c.timecodes), 0);
  AvsValue result = host.invoke(env, "ZEMIVTC", AvsValue{'a', static_cast<short>(n), {args}}, names);
  return host.releaseValue(args[0]), result;
}

// Every `step`th output frame of `clip` from `first` against the command's
// path (source frames to packed rows, the core's stages on one thread, packed
// rows back) and, with properties, the command's times; the frames that differ.
int CheckFrames(const Case& c, AvsClip* clip, int first = 0, int step = 1) {
  const int w = c.width, h = c.height, row = 2 * w;
  const Shape s = ShapeOf(c.type, w, h, c.order ? (c.order[0] | 0x20) == 'b' : c.imageType == AvsItBff);
  FramePlanEntry entries[kPlanFrames];
  FrameTime times[kPlanFrames + 1];
  FillFrameTable(reinterpret_cast<const uint8_t*>(kPlan), static_cast<int32_t>(strlen(kPlan)), entries);
  FrameTimes(entries, kPlanFrames, times);
  times[kPlanFrames] = LastFrameEnd(times[kPlanFrames - 1], &times[kPlanFrames - 2]);
  FilterTables tables{};
  BuildFilterTables(w, h, tables);
  uint8_t* packed[4];
  uint8_t* planes = static_cast<uint8_t*>(malloc(10 * w * h));
  for (int i = 0; i < 4; ++i) packed[i] = planes + (i + 1) * row * h;
  const PlanarFrame planar{planes, s.Plane(planes, 1), s.Plane(planes, 2), s.rowBytes[0], s.rowBytes[1]};
  int failures = 0;
  for (int n = first; n < kPlanFrames; n += step) {
    const FrameRecipe r = RecipeFor(entries[n]);
    for (int i = 0; i < 2; ++i) {
      SourcePlanes(s, (i ? r.lower : r.upper) < kSourceFrames ? (i ? r.lower : r.upper) : kSourceFrames - 1, planes);
      for (int y = 0; y < h && s.planes == 1; ++y)
        memcpy(packed[i] + y * row, planes + (s.layout.mirrored ? h - 1 - y : y) * row, row);
      if (s.planes == 3) PlanarToPackedRows(planar, w, h, 0, h, packed[i], row, s.layout);
    }
    WorkerPool one{};
    uint8_t *selected = r.woven ? packed[2] : packed[r.code == '4'], *result = r.code == '1' ? selected : packed[3];
    if (r.woven) WeaveFrames(one, packed[0], row, packed[1], row, selected, row, w, h);
    if (r.code != '1')
      FinishFrame(one, tables, r.code, TableFor(tables, r.code).offsets, selected, row, result, row, w, h);
    for (int y = 0; y < h && s.planes == 1; ++y)
      memcpy(planes + (s.layout.mirrored ? h - 1 - y : y) * row, result + y * row, row);
    if (s.planes == 3) PackedToPlanarRows(result, row, w, h, 0, h, planar, s.layout);
    AvsVideoFrame* f = avs.getFrame(clip, n);
    bool same = f != nullptr;
    for (int q = 0; q < s.planes && same; ++q) {
      for (int y = 0; y < s.rows[q]; ++y) {
        const uint8_t* got = AvsReadPtr(avs, f, s.ids[q]) + y * AvsPitch(avs, f, s.ids[q]);
        same = same && memcmp(got, s.Plane(planes, q) + y * s.rowBytes[q], s.rowBytes[q]) == 0;
      }
    }
    int64_t num = 0, den = 0;
    int e[3] = {0, 0, 0};
    if (same && host.propsRo && DurationSeconds(times[n], times[n + 1], &num, &den)) {
      const AvsMap* m = host.propsRo(env, f);
      same = host.propGetInt(env, m, "_FieldBased", 0, &e[0]) == 0 &&
             host.propGetInt(env, m, "_DurationNum", 0, &e[1]) == num &&
             host.propGetInt(env, m, "_DurationDen", 0, &e[2]) == den && !e[0] && !e[1] && !e[2];
    }
    if (!same && ++failures < 4) Print(2, "    frame %d of %dx%d %08x differs\n", n, w, h, c.type);
    if (f) avs.releaseVideoFrame(f);
  }
  FreeFilterTables(tables);
  return free(planes), failures;
}

constexpr Case kCases[] = {
    {AvsCsYuy2, 20, 10, 0, nullptr, 0, 0, "plan.zem", nullptr, nullptr},               // top field first by default
    {AvsCsYuy2, 18, 7, AvsItTff, nullptr, 24000, 1001, "plan.zem", nullptr, nullptr},  // odd height; a rate
    {AvsCsYuy2, 20, 10, AvsItBff, nullptr, 50, 2, "plan.zem", nullptr, nullptr},       // the clip's bits; 25/1
    {AvsCsYuy2, 20, 10, AvsItTff, "BFF", 0, 0, "plan.zem", nullptr, nullptr},          // the argument over them
    {AvsCsYv12, 24, 16, 0, nullptr, 0, 0, "plan.zem", nullptr, nullptr},
    {AvsCsYv12, 24, 16, AvsItBff, nullptr, 0, 0, "plan.zem", nullptr, nullptr},
    {AvsCsI420, 24, 12, AvsItBff, "tff", 0, 0, "plan.zem", nullptr, nullptr},
    {AvsCsYv16, 22, 10, AvsItBff, nullptr, 0, 0, "plan.zem", nullptr, nullptr},
    {AvsCsYv16, 22, 9, 0, nullptr, 0, 0, "plan.zem", nullptr, nullptr},
    {0x50000002u, 16, 8, 0, 0, 0, 0, "plan.zem", 0,
     "Invalid video colorspace: RGB32 (ZEMIVTC takes YUY2, YV12, I420 and YV16)"},
    {0xA000030Bu, 16, 8, 0, 0, 0, 0, "plan.zem", 0, "Invalid video colorspace: YV24 ("},
    {0xE0000000u, 16, 8, 0, 0, 0, 0, "plan.zem", 0, "Invalid video colorspace: Y8 ("},
    {0xA0050008u, 16, 8, 0, 0, 0, 0, "plan.zem", 0, "Invalid video colorspace: YUV420P10 ("},
    {AvsCsYuy2, 16, 1, 0, 0, 0, 0, "plan.zem", 0, "Video height must be at least 2"},
    {AvsCsYv12, 16, 18, 0, 0, 0, 0, "plan.zem", 0, "ZEMIVTC: interlaced 4:2:0 needs a height that is a multiple of 4"},
    {AvsCsYuy2, 16, 7, AvsItBff, 0, 0, 0, "plan.zem", 0, "ZEMIVTC: bottom field first needs an even height"},
    {AvsCsYuy2, 16, 8, 0, "top", 0, 0, "plan.zem", 0, "ZEMIVTC: fieldOrder must be \"tff\" or \"bff\", not \"top\""},
    {AvsCsYuy2, 16, 8, 0, 0, -5, 0, "plan.zem", 0, "ZEMIVTC: the rate fpsNum/fpsDen must be positive (got -5/1)"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 1001, "plan.zem", 0, "ZEMIVTC: fpsDen needs fpsNum"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, nullptr, 0, "File open error"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "missing.zem", 0, "File open error"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "big.zem", 0, "File too long"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "plan.zem", "plan.zem", "ZEMIVTC: timecodes names the plan file"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "plan.zem", "no/such/dir.tc", "ZEMIVTC: cannot write the timecodes file"},
};

// Two instances, as AviSynth+ makes them for Prefetch(2), each asked for
// every other frame from a thread of its own.
struct Half {
  const Case* c;
  AvsClip* clip;
  int first, failures;
};
unsigned RunHalf(void* arg) {
  Half& h = *static_cast<Half*>(arg);
  return h.failures = CheckFrames(*h.c, h.clip, h.first, 2), 0;
}

int Main(int argc, char** argv) {
  if (argc < 4) return Print(2, "usage: avs_c_client HOST_LIBRARY MODULE WORKDIR [local|global [optional]]\n"), 2;
  void* library = OpenHost(argv[1], argc > 4 && SameText(argv[4], "global"));
  if (!library && argc > 5) return Print(1, "=== real AviSynth host SKIPPED: cannot load %s ===\n", argv[1]), 77;
  bool bound = library != nullptr;
#define BIND(ret, slot, name, params) avs.slot = reinterpret_cast<decltype(avs.slot)>(Symbol(library, #name));
#define BIND_CLIENT(ret, slot, name, params) host.slot = reinterpret_cast<decltype(host.slot)>(Symbol(library, #name));
#define REQUIRE(ret, slot, name, params) bound = bound && avs.slot;
  if (bound) {
    ZEMIVTC_AVS_IMPORTED(BIND) ZEMIVTC_AVS_LOOKED_UP(BIND) CLIENT_FUNCTIONS(BIND_CLIENT)
  }
  ZEMIVTC_AVS_IMPORTED(REQUIRE)
  if (!bound || !host.invoke) return Print(2, "avs_c_client: cannot load %s, or it lacks functions\n", argv[1]), 3;
  workDir = argv[3], env = host.createEnv(3);
  const bool standin = host.standinFaults != nullptr;
  Print(1, "avs_c_client: %s (%s), frame properties: %s\n", argv[1], standin ? "stand-in" : "real",
        host.propsRo ? "yes" : "no");
  host.releaseValue(host.invoke(env, "ClearAutoloadDirs", AvsValue{'a', 0, {nullptr}}, nullptr));  // AviSynth+
  char* big = static_cast<char*>(malloc(10485761));
  winrt::WriteWholeFile(winrt::JoinPath(workDir, "plan.zem"), kPlan, static_cast<unsigned>(strlen(kPlan)));
  winrt::WriteWholeFile(winrt::JoinPath(workDir, "big.zem"), memset(big, '0', 10485761), 10485761);
  winrt::WriteWholeFile(winrt::JoinPath(workDir, "video.zem"), "2222", 4);
  free(big);

  tally.group = "load";  // AviSynth 2.6 returns the entry point's text, AviSynth+ true
  CHECK(avs.addFunction(env, "ZemTestSource", "iiiiii", MakeSource, nullptr) == 0);
  AvsValue path{'s', 0, {argv[2]}};
  AvsValue loaded = host.invoke(env, "LoadCPlugin", AvsValue{'a', 1, {&path}}, nullptr);
  if (!CHECK((loaded.type == 's' && SameText(loaded.d.string, "ZEMIVTC Plugin")) ||
             (loaded.type == 'b' && loaded.d.boolean)))
    return Print(2, "    LoadCPlugin gave '%c' %s\n", loaded.type, loaded.type == 'e' ? loaded.d.string : ""), 1;

  for (const Case& c : kCases) {
    tally.group = c.want ? "refusals" : "frames";
    AvsValue v = Zem(c, -1);
    if (!CHECK(v.type == (c.want ? 'e' : 'c') && (!c.want || StartsWith(v.d.string, c.want))))
      Print(2, "    %dx%d %08x: want \"%s\", got \"%s\"\n", c.width, c.height, c.type, c.want,
            v.type == 'e' ? v.d.string : "");
    if (!c.want && v.type == 'c') {
      AvsClip* clip = host.takeClip(v, env);
      const AvsVideoInfo& vi = *host.videoInfo(clip);
      unsigned num = c.fpsNum ? c.fpsNum : 60000, den = c.fpsDen ? c.fpsDen : c.fpsNum ? 1 : 1001, a = num, b = den;
      for (unsigned r; b != 0; r = a % b, a = b, b = r) {
      }
      CHECK(vi.numFrames == kPlanFrames && vi.pixelType == int(c.type) && vi.width == c.width && vi.height == c.height);
      CHECK(vi.fpsNumerator == num / a && vi.fpsDenominator == den / a && CheckFrames(c, clip) == 0);
      if (standin) CHECK(host.setCacheHints(clip, AvsCacheGetMtMode, 0) == AvsMtMultiInstance);
      avs.releaseClip(clip);
    }
    host.releaseValue(v);
  }
  if (tally.failures)
    return Print(2, "avs_c_client: %d of %d checks failed; no clips for the rest\n", tally.failures, tally.checks), 1;

  tally.group = "threads";
  for (int i = 2; i <= 5; i += 3) {
    AvsValue v[2] = {Zem(kCases[i], -1), Zem(kCases[i], -1)}, args[2] = {v[0], AvsValue{'i', 0, {}}}, p;
    args[1].d.integer = 2;
    if (!standin && (p = host.invoke(env, "Prefetch", AvsValue{'a', 2, {args}}, nullptr)).type == 'c') {
      AvsClip* clip = host.takeClip(p, env);
      CHECK(CheckFrames(kCases[i], clip) == 0);
      avs.releaseClip(clip);
    }
    if (!standin) host.releaseValue(p);
    Half halves[2] = {{&kCases[i], host.takeClip(v[0], env), 0, 0}, {&kCases[i], host.takeClip(v[1], env), 1, 0}};
    platform::Thread* threads[2] = {standin ? platform::StartThread(RunHalf, &halves[0]) : nullptr,
                                    standin ? platform::StartThread(RunHalf, &halves[1]) : nullptr};
    for (int t = 0; t < 2; ++t) {
      if (threads[t]) platform::JoinThread(threads[t]), CHECK(halves[t].failures == 0);
      avs.releaseClip(halves[t].clip), host.releaseValue(v[t]);
    }
  }

  tally.group = "source error";  // output frame 4 is a '3' at position 6: source frame 3
  AvsValue v = Zem(kCases[0], 3);
  AvsClip* clip = host.takeClip(v, env);
  AvsVideoFrame* bad = avs.getFrame(clip, 4);
  CHECK(!bad && avs.clipGetError(clip) && StartsWith(avs.clipGetError(clip), "ZemTestSource: frame refused"));
  AvsVideoFrame* good = avs.getFrame(clip, 0);
  if (CHECK(good != nullptr)) avs.releaseVideoFrame(good);
  avs.releaseClip(clip), host.releaseValue(v);

  tally.group = "timecodes";  // video fields throughout: one field period each
  v = Zem(Case{AvsCsYuy2, 16, 8, 0, nullptr, 0, 0, "video.zem", "video.tc", nullptr}, -1);
  char text[200] = {0};
  const char* want = "# timecode format v2\n0.000000\n16.683333\n33.366667\n50.050000\n";
  CHECK(v.type == 'c' && ReadText(winrt::JoinPath(workDir, "video.tc"), text, 199) == int(strlen(want)) &&
        SameText(text, want));
  host.releaseValue(v);

  host.deleteEnv(env);
  if (standin) CHECK(host.standinFaults() == 0);
  Print(1, "avs_c_client: %d checks, %d failed\n", tally.checks, tally.failures);
  return tally.failures == 0 ? 0 : 1;
}

}  // namespace

#if defined(_WIN32)
WINRT_ENTRY(AvsCClientStart, Main)
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
