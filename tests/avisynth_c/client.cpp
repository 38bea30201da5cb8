// Drives a host of the C interface through its exports and checks ZEMIVTC in
// it: the stand-in, or a real host (AviSynth+ on Linux, AviSynth 2.6.0 under
// Wine). A source filter of its own makes noise frames; every output frame
// must be the model's (tests/frame_model.h) on convert/'s packed rows, with
// _FieldBased and the durations where the host has properties, from two
// threads (the stand-in of AviSynth+, as the module's MT mode says) or under
// Prefetch(2) (AviSynth+); its parity the source's; then every refusal's
// words (a call without its clip the host's), a source frame's error, the
// timecodes file, a plan from a FIFO, and in the stand-in nothing left alive.
//   avs_c_client HOST_LIBRARY MODULE WORKDIR [local|global [optional]]
#define ZEMIVTC_FRAME_MODEL_PLAIN
#include "avisynth_c/avs_c.h"
#include "convert/planar_packed.h"
#include "plan/frame_times.h"
#include "plan/plan_file.h"
#include "platform/platform.h"
#include "tests/frame_model.h"
#if defined(_WIN32)
#if defined(_WIN64)
#include "tests/abi/win_runtime.h"
#else
#include "tests/abi/eh3_fix.h"  // AviSynth 2.6 under Wine
#endif
WINRT_RUNTIME(AvsCClientTypeInfoTable)
extern "C" __declspec(dllimport) int __cdecl _chdir(const char* path);
#define chdir _chdir
using winrt::Print;
void* OpenHost(const char* path, bool) {
  void* dll = LoadLibraryExA(path, nullptr, 0x8);  // its own folder first for what it imports
#if !defined(_WIN64)
  if (dll) PatchImport(dll, "msvcrt.dll", "_except_handler3", reinterpret_cast<void*>(Eh3Handler));
#endif
  return dll;
}
#define Symbol GetProcAddress
#else
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
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
}  // namespace winrt
#define Print(fd, ...) fprintf(fd == 1 ? stdout : stderr, __VA_ARGS__)
#define CHECK(c)          \
  (++winrt::tally.checks, \
   (c) || (Print(2, "FAILED [%s] line %d: %s\n", winrt::tally.group, __LINE__, #c), ++winrt::tally.failures, false))
void* OpenHost(const char* path, bool global) { return dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL)); }
#define Symbol dlsym
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
  X(AvsVideoFrame*, copyFrame, avs_copy_video_frame, (AvsVideoFrame*))                       \
  X(const AvsMap*, propsRo, avs_get_frame_props_ro, (AvsEnv*, const AvsVideoFrame*))         \
  X(int64_t, propGetInt, avs_prop_get_int, (AvsEnv*, const AvsMap*, const char*, int, int*)) \
  X(int, getParity, avs_get_parity, (AvsClip*, int))                                         \
  X(int, standinFaults, StandinFaults, ())                                                   \
  X(int, standinServed, StandinServed, (AvsClip*))
#define SLOT(ret, slot, name, params) ret(AVSC_CC* slot) params;
struct : AvsApi{// what the module takes from the host, and what this client calls besides
                CLIENT_FUNCTIONS(SLOT)} host;
AvsEnv* env;
constexpr const char* kPlan =
    "00112233445566"
    "1234560654321"
    "3x\n5"
    "21436"
    "0303";  // every code, even and odd; each thread's last frame a smoothed weave, after its other codes
constexpr int kSourceFrames = 24, kPlanFrames = 33;

bool StartsWith(const char* s, const char* prefix) {
  while (*prefix && *s == *prefix) ++s, ++prefix;
  return *prefix == 0;
}
AvsValue Int(int i) {
  AvsValue v{'i', 0, {nullptr}};
  return v.d.integer = i, v;
}
bool IsYuy2(uint32_t type) { return type == AvsCsYuy2; }
bool Is420(uint32_t type) { return (type & ~AvsCsPlaneOrderMask) == (AvsCsYv12 & ~AvsCsPlaneOrderMask); }

// A frame's pixels as Y, U, V planes one after another from `p`, and their bytes.
PlanarFrame Planes(uint32_t type, int w, int h, uint8_t* p) {
  return PlanarFrame{p, p + w * h, p + w * h + w / 2 * (Is420(type) ? h / 2 : h), w, w / 2};
}
int PlanesBytes(uint32_t type, int w, int h) { return w * h * (Is420(type) ? 3 : 4) / 2; }
// The planes in `p` (YUY2 as 4:2:2, through convert/) copied out of the
// host's frame or (`into`) into it.
void Transfer(uint32_t type, int w, int h, AvsVideoFrame* f, uint8_t* p, bool into) {
  const PlanarFrame planes = Planes(type, w, h, p);
  const int ids[3] = {AvsPlaneY, AvsPlaneU, AvsPlaneV};
  uint8_t* const starts[3] = {planes.y, planes.u, planes.v};
  uint8_t* packed = into ? AvsWritePtr(host, f, 0) : const_cast<uint8_t*>(AvsReadPtr(host, f, 0));
  if (IsYuy2(type) && into) PlanarToPackedRows(planes, w, h, 0, h, packed, AvsPitch(host, f, 0), {PlanarYuv422, false});
  if (IsYuy2(type) && !into)
    PackedToPlanarRows(packed, AvsPitch(host, f, 0), w, h, 0, h, planes, {PlanarYuv422, false});
  for (int q = 0; q < 3 && !IsYuy2(type); ++q) {
    const int rowBytes = q ? w / 2 : w, rows = q && Is420(type) ? h / 2 : h;
    for (int y = 0; y < rows; ++y) {
      uint8_t* row = (into ? AvsWritePtr(host, f, ids[q]) : const_cast<uint8_t*>(AvsReadPtr(host, f, ids[q]))) +
                     y * AvsPitch(host, f, ids[q]);
      uint8_t* plane = starts[q] + y * rowBytes;
      memcpy(into ? row : plane, into ? plane : row, rowBytes);
    }
  }
}
// Source frame k's planes, noise from the frame number and the place.
PlanarFrame SourcePlanes(uint32_t type, int w, int h, int k, uint8_t* p) {
  for (int i = 0; i < PlanesBytes(type, w, h); ++i) p[i] = ((k * 7919 + i) * 2654435761u) >> 24;
  return Planes(type, w, h, p);
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
int AVSC_CC SourceParity(AvsFilterInfo* fi, int) { return (fi->vi.imageType & AvsItTff) != 0; }
void AVSC_CC SourceFree(AvsFilterInfo* fi) {
  Source* s = static_cast<Source*>(fi->userData);
  for (int k = 0; k < s->count; ++k) host.releaseVideoFrame(s->frames[k]);
  free(s);
}
AvsValue AVSC_CC MakeSource(AvsEnv* e, AvsValue args, void*) {
  int a[6];
  for (int i = 0; i < 6; ++i) a[i] = AvsArrayElement(args, i).d.integer;
  AvsValue blank = host.invoke(e, "BlankClip", AvsValue{'a', 0, {nullptr}}, nullptr), v;
  AvsFilterInfo* fi = nullptr;
  AvsClip* clip = host.newCFilter(e, &fi, blank, 1);
  fi->vi = AvsVideoInfo{a[1], a[2], 30000, 1001, a[3], a[0], 0, 0, 0, 0, a[4]};
  Source* s = static_cast<Source*>(malloc(sizeof(Source)));
  *s = Source{a[3], a[5], {}};
  uint8_t* planes = static_cast<uint8_t*>(malloc(2 * a[1] * a[2]));
  for (int k = 0; k < s->count; ++k) {
    s->frames[k] = host.newVideoFrameA(e, &fi->vi, 16);
    SourcePlanes(a[0], a[1], a[2], k, planes);
    if (IsYuy2(a[0]) || (a[0] & ~0x318) == int(0xA0000000)) Transfer(a[0], a[1], a[2], s->frames[k], planes, true);
  }
  fi->userData = s, fi->getFrame = SourceGetFrame, fi->getParity = SourceParity, fi->freeFilter = SourceFree;
  host.setToClip(&v, clip);
  return host.releaseClip(clip), host.releaseValue(blank), free(planes), v;
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
// ZEMIVTC over a new source: the clip, or the error value.
AvsValue Zem(const Case& c, int failAt) {
  AvsValue ints[6] = {Int(c.type), Int(c.width), Int(c.height), Int(kSourceFrames), Int(c.imageType), Int(failAt)};
  AvsValue args[6] = {host.invoke(env, "ZemTestSource", AvsValue{'a', 6, {ints}}, nullptr)};
  const char* names[6] = {nullptr};
  int n = 1;
  auto add = [&](const char* name, AvsValue value) { names[n] = name, args[n++] = value; };
  auto text = [](const char* s) { return AvsValue{'s', 0, {const_cast<char*>(s)}}; };
  if (c.planFile) add("zemFile", text(c.planFile));
  if (c.order) add("fieldOrder", text(c.order));
  if (c.fpsNum) add("fpsNum", Int(c.fpsNum));
  if (c.fpsDen) add("fpsDen", Int(c.fpsDen));
  if (c.timecodes) add("timecodes", text(c.timecodes));
  AvsValue result = host.invoke(env, "ZEMIVTC", AvsValue{'a', static_cast<short>(n), {args}}, names);
  return host.releaseValue(args[0]), result;
}

// Every `step`th output frame of `clip` from `first` against the model (on
// packed rows as the module has them: a bottom-field-first clip's turned
// over) and, with properties, the command's times; counts the frames that
// differ. Run by a thread of its own for each half of the frames.
struct Check {
  const Case* c;
  AvsClip* clip;
  int first, step, failures;
};
unsigned CheckFrames(void* arg) {
  Check& k = *static_cast<Check*>(arg);
  const Case& c = *k.c;
  const int w = c.width, h = c.height, row = 2 * w;
  const PackedLayout layout{Is420(c.type) ? PlanarYuv420 : PlanarYuv422,
                            c.order ? (c.order[0] | 0x20) == 'b' : c.imageType == AvsItBff};
  FramePlanEntry entries[kPlanFrames];  // the plan's codes and their positions
  for (uint32_t p = 0, n = 0; kPlan[p]; ++p)
    if (kPlan[p] >= '1' && kPlan[p] <= '6') entries[n++] = FramePlanEntry{p, kPlan[p]};
  FrameTime times[kPlanFrames + 1];
  FrameTimes(entries, kPlanFrames, times);
  times[kPlanFrames] = LastFrameEnd(times[kPlanFrames - 1], &times[kPlanFrames - 2]);
  uint8_t *planes = static_cast<uint8_t*>(malloc(12 * w * h)), *packed[5];
  for (int i = 0; i < 5; ++i) packed[i] = planes + (i + 1) * row * h;  // the last: the frame's planes
  for (int n = k.first; n < kPlanFrames; n += k.step) {
    for (int i = 0; i < 2; ++i) {  // source frames k and k + 1
      const int source = static_cast<int>(entries[n].position / 2) + i;
      PlanarToPackedRows(SourcePlanes(c.type, w, h, source < kSourceFrames ? source : kSourceFrames - 1, planes), w, h,
                         0, h, packed[i], row, layout);
    }
    bool same = testing_support::ModelFrameRows(packed[0], packed[1], w, h, entries[n].position, entries[n].code,
                                                packed[2], packed[3]);
    PackedToPlanarRows(packed[3], row, w, h, 0, h, SourcePlanes(c.type, w, h, 0, planes), layout);
    AvsVideoFrame* f = host.getFrame(k.clip, n);
    if (f) Transfer(c.type, w, h, f, packed[4], false);
    same = same && f && memcmp(planes, packed[4], PlanesBytes(c.type, w, h)) == 0;
    int64_t num = 0, den = 0;
    int e[3] = {0, 0, 0};
    if (same && host.propsRo && DurationSeconds(times[n], times[n + 1], &num, &den)) {
      const AvsMap* m = host.propsRo(env, f);
      same = host.propGetInt(env, m, "_FieldBased", 0, &e[0]) == 0 &&
             host.propGetInt(env, m, "_DurationNum", 0, &e[1]) == num &&
             host.propGetInt(env, m, "_DurationDen", 0, &e[2]) == den && !e[0] && !e[1] && !e[2];
    }
    if (!same && ++k.failures < 4) Print(2, "    frame %d of %dx%d %08x differs\n", n, w, h, c.type);
    if (f) host.releaseVideoFrame(f);
  }
  return free(planes), 0;
}

constexpr Case kCases[] = {
    {AvsCsYuy2, 20, 10, 0, nullptr, 0, 0, "plan.zem", nullptr, nullptr},               // top field first by default
    {AvsCsYuy2, 18, 7, AvsItTff, nullptr, 24000, 1001, "plan.zem", nullptr, nullptr},  // odd height; a rate
    {AvsCsYuy2, 20, 10, AvsItBff, nullptr, 25, 0, "plan.zem", nullptr, nullptr},       // the clip's bits; 25/1
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
    // The reader's refusal passed on (the reader's own cases: plan_test.cpp).
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "missing.zem", 0, "File open error"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "plan.zem", "plan.zem", "ZEMIVTC: timecodes names the plan file"},
    {AvsCsYuy2, 16, 8, 0, 0, 0, 0, "plan.zem", "no/such/dir.tc", "ZEMIVTC: cannot write the timecodes file"},
};

int Main(int argc, char** argv) {
  if (argc < 4) return Print(2, "usage: avs_c_client HOST_LIBRARY MODULE WORKDIR [local|global [optional]]\n"), 2;
  void* library = OpenHost(argv[1], argc > 4 && SameText(argv[4], "global"));
  if (!library && argc > 5) return Print(1, "=== real AviSynth host SKIPPED: cannot load %s ===\n", argv[1]), 77;
#define BIND(ret, slot, name, params) host.slot = reinterpret_cast<decltype(host.slot)>(Symbol(library, #name));
#define MISSING(ret, slot, name, params) || !host.slot
  if (library) {
    ZEMIVTC_AVS_IMPORTED(BIND) ZEMIVTC_AVS_LOOKED_UP(BIND) CLIENT_FUNCTIONS(BIND)
  }
  if (!library || !host.invoke ZEMIVTC_AVS_IMPORTED(MISSING))
    return Print(2, "avs_c_client: cannot load %s, or it lacks functions\n", argv[1]), 3;
  env = host.createEnv(3);
  const bool standin = host.standinFaults != nullptr;
  Print(1, "avs_c_client: %s (%s), frame properties: %s\n", argv[1], standin ? "stand-in" : "real",
        host.propsRo ? "yes" : "no");
  host.releaseValue(host.invoke(env, "ClearAutoloadDirs", AvsValue{'a', 0, {nullptr}}, nullptr));  // AviSynth+

  tally.group = "load";  // AviSynth 2.6 returns the entry point's text, AviSynth+ true
  CHECK(host.addFunction(env, "ZemTestSource", "iiiiii", MakeSource, nullptr) == 0);
  AvsValue path{'s', 0, {argv[2]}};
  AvsValue loaded = host.invoke(env, "LoadCPlugin", AvsValue{'a', 1, {&path}}, nullptr);
  if (!CHECK((loaded.type == 's' && SameText(loaded.d.string, "ZEMIVTC Plugin")) ||
             (loaded.type == 'b' && loaded.d.boolean)))
    return Print(2, "    LoadCPlugin gave '%c' %s\n", loaded.type, loaded.type == 'e' ? loaded.d.string : ""), 1;
  // The plans the cases name, in WORKDIR (entered once the paths given have been used).
  CHECK(chdir(argv[3]) == 0);
  winrt::WriteWholeFile("plan.zem", kPlan, static_cast<unsigned>(strlen(kPlan)));
  winrt::WriteWholeFile("video.zem", "2222", 4);

  // Each clip: its properties, its parity and every frame. In the stand-in
  // of AviSynth+ every other frame from each of two threads, which it serves
  // as the module's MT mode says; in AviSynth+ under Prefetch(2).
  for (const Case& c : kCases) {
    tally.group = c.want ? "refusals" : "frames";
    AvsValue v = Zem(c, -1), args[2] = {v, Int(2)};
    if (!CHECK(v.type == (c.want ? 'e' : 'c') && (!c.want || StartsWith(v.d.string, c.want))))
      Print(2, "    %dx%d %08x: want \"%s\", got \"%s\"\n", c.width, c.height, c.type, c.want,
            v.type == 'e' ? v.d.string : "");
    AvsValue prefetched =
        !standin && v.type == 'c' ? host.invoke(env, "Prefetch", AvsValue{'a', 2, {args}}, nullptr) : AvsValue{};
    const int threadCount = standin && host.propsRo ? 2 : 1;
    Check checks[2] = {{&c, nullptr, 0, threadCount, 0}, {&c, nullptr, 1, 2, 0}};
    platform::Thread* threads[2] = {};
    for (int i = 0; i < threadCount && v.type == 'c'; ++i) {
      checks[i].clip = host.takeClip(prefetched.type == 'c' ? prefetched : v, env);
      CHECK(host.getParity(checks[i].clip, i) == ((c.imageType & AvsItTff) != 0));
      threads[i] = platform::StartThread(CheckFrames, &checks[i]);
    }
    for (int i = 0; i < 2 && threads[i]; ++i) {
      platform::JoinThread(threads[i]);
      const AvsVideoInfo& vi = *host.videoInfo(checks[i].clip);
      const unsigned num = c.fpsNum ? c.fpsNum : 60000, den = c.fpsDen ? c.fpsDen : c.fpsNum ? 1 : 1001;
      CHECK(vi.numFrames == kPlanFrames && vi.pixelType == int(c.type) && vi.width == c.width && vi.height == c.height);
      CHECK(vi.fpsNumerator == num && vi.fpsDenominator == den && checks[i].failures == 0);
      host.releaseClip(checks[i].clip);
    }
    if (threadCount == 2 && threads[0] && host.standinServed) {  // served as the filter's MT mode says
      const int served = host.standinServed(static_cast<AvsClip*>(v.d.clip));
      if (!CHECK(served > 0) || &c == kCases)
        Print(1, "    MT mode %d served %s\n", served, served > 0 ? "as said" : "wrongly");
    }
    host.releaseValue(v), host.releaseValue(prefetched);
  }
  if (tally.failures)
    return Print(2, "avs_c_client: %d of %d checks failed; no clips for the rest\n", tally.failures, tally.checks), 1;

  tally.group = "required arguments";  // the host refuses a call without its clip; the module never sees it
  AvsValue plan{'s', 0, {const_cast<char*>("plan.zem")}};
  const char* planName[1] = {"zemFile"};
  AvsValue v = host.invoke(env, "ZEMIVTC", AvsValue{'a', 1, {&plan}}, planName);
  CHECK(v.type == 'e' && !StartsWith(v.d.string, "ZEMIVTC"));

  tally.group = "source error";  // output frame 4 is a '3' at position 6: source frame 3
  v = Zem(kCases[0], 3);
  AvsClip* clip = host.takeClip(v, env);
  AvsVideoFrame* bad = host.getFrame(clip, 4);
  CHECK(!bad && host.clipGetError(clip) && StartsWith(host.clipGetError(clip), "ZemTestSource: frame refused"));
  AvsVideoFrame* good = host.getFrame(clip, 0);
  if (CHECK(good != nullptr)) host.releaseVideoFrame(good);
  host.releaseClip(clip), host.releaseValue(v);

  tally.group = "timecodes";  // video fields throughout: one field period each
  v = Zem(Case{AvsCsYuy2, 16, 8, 0, nullptr, 0, 0, "video.zem", "video.tc", nullptr}, -1);
  const char* want = "# timecode format v2\n0.000000\n16.683333\n33.366667\n50.050000\n";
  uint8_t* text = nullptr;
  int32_t size = 0;
  CHECK(ReadPlanFile("video.tc", &text, &size) == PlanReadOk && size == int32_t(strlen(want)) &&
        memcmp(text, want, size) == 0);
  free(text), host.releaseValue(v);

#if !defined(_WIN32)
  tally.group = "plan from a FIFO";  // the second instance (as Prefetch makes it) shares the plan read once
  static platform::Event* second = platform::CreateAutoResetEvent();
  mkfifo("plan.fifo", 0600);
  platform::Thread* writer = platform::StartThread(
      [](void*) {  // a module that opened the FIFO again would wait for ever: after 30 s it gets no plan
        winrt::WriteWholeFile("plan.fifo", kPlan, strlen(kPlan));
        return unsigned(platform::WaitForEvent(second, 30000) || winrt::WriteWholeFile("plan.fifo", "", 0));
      },
      nullptr);
  const Case fromFifo{AvsCsYuy2, 16, 8, 0, nullptr, 0, 0, "plan.fifo", nullptr, nullptr};
  AvsValue first = Zem(fromFifo, -1);
  v = Zem(fromFifo, -1);
  platform::SetEvent(second), platform::JoinThread(writer), platform::CloseEvent(second);
  if (CHECK(first.type == 'c' && v.type == 'c')) clip = host.takeClip(v, env);
  if (v.type == 'c') CHECK(host.videoInfo(clip)->numFrames == kPlanFrames), host.releaseClip(clip);
  host.releaseValue(first), host.releaseValue(v);
#endif

  tally.group = "the end";  // the stand-in counts what is alive and what was misused
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
