// Runs zemivtc.dll inside the real host, AviSynth 2.6.0 (32-bit, built with
// Microsoft's compiler), through the host's C interface, under Wine:
//   - LoadPlugin, and the text it returns;
//   - scripts over an uncompressed YUY2 AVI read by AVISource and over clips
//     made by the host's own filters (cropped frames that start deep inside
//     their buffers, new frames with padded pitches), with a plan that puts
//     every code at even and at odd positions; every source frame the module
//     can ask for and every output frame are written to WORKDIR, where
//     avs_compare (native) renders the same plans over the same source bytes
//     with the native module and compares every byte;
//   - a long stretch of frames asked out of order through the host's cache,
//     with the host's memory limit low so that it recycles frames;
//   - every refusal's message, as the host reports it to its caller and as a
//     script's try/catch sees it, and the host still working afterwards.
//
//   avs_client AVISYNTH_DLL MODULE WORKDIR SOURCE_AVI LONG_AVI
//
// AviSynth 2.6.0 guards each Invoke with a __try whose filter uses ESI and
// EDI; Wine's _except_handler3 calls such filters without saving those
// registers, so every error the host reports would crash it under Wine. The
// client points avisynth.dll's import of _except_handler3 at a version of its
// own that saves them (tests/abi/eh3_fix.h), before it runs anything.
#include "tests/abi/eh3_fix.h"
#include "tests/abi/host_records.h"
#include "tests/abi/win_runtime.h"

WINRT_RUNTIME(AvsClientTypeInfoTable)

using winrt::Print;
using winrt::tally;

namespace {

// ---------------------------------------------------------------------------
// The host's C interface (avisynth_c.h of AviSynth 2.6): every function
// __stdcall; values are 8-byte records (ValueRec) returned in EDX:EAX.
constexpr int kYuy2 = 0x60000004;

struct Host {
  void*(__stdcall* createEnvironment)(int version);
  void(__stdcall* deleteEnvironment)(void* env);
  ValueRec(__stdcall* invoke)(void* env, const char* name, ValueRec args, const char** names);
  void(__stdcall* releaseValue)(ValueRec value);
  void*(__stdcall* takeClip)(ValueRec value, void* env);
  void(__stdcall* releaseClip)(void* clip);
  const VideoInfoRec*(__stdcall* videoInfo)(void* clip);
  FrameRec*(__stdcall* getFrame)(void* clip, int n);
  void(__stdcall* releaseFrame)(FrameRec* frame);
  const char*(__stdcall* clipError)(void* clip);
  int(__stdcall* setMemoryMax)(void* env, int megabytes);
  void* env;
};
Host host;

template <typename F>
bool Bind(void* dll, F& slot, const char* name) {
  slot = reinterpret_cast<F>(GetProcAddress(dll, name));
  if (slot == nullptr) Print(2, "avs_client: avisynth.dll has no %s\n", name);
  return slot != nullptr;
}

ValueRec StringValue(const char* s) {
  ValueRec v{'s', 0, {nullptr}};
  v.string = s;
  return v;
}

// Calls a script function with one argument; the result is the caller's to release.
ValueRec Call(const char* function, const char* argument) {
  ValueRec arg = StringValue(argument);
  ValueRec args{'a', 1, {nullptr}};
  args.array = &arg;
  return host.invoke(host.env, function, args, nullptr);
}

// The first line of a message: the host may append where in the script it was raised.
const char* FirstLine(const char* text) {
  static char line[256];
  size_t n = 0;
  while (text && text[n] && text[n] != '\n' && text[n] != '\r' && n < sizeof line - 1) ++n;
  if (text) memcpy(line, text, n);
  line[n] = '\0';
  return line;
}

// ---------------------------------------------------------------------------
// Text building without a C library, on the heap: frames of more than a
// page would call _chkstk, which Wine's MSVCRT.dll only stubs.
struct Text {
  static constexpr size_t kCapacity = 4096;
  char* s = static_cast<char*>(malloc(kCapacity));
  size_t n = 0;
  Text() { s[0] = '\0'; }
  ~Text() { free(s); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  Text& operator<<(const char* t) {
    while (t && *t && n < kCapacity - 1) s[n++] = *t++;
    s[n] = '\0';
    return *this;
  }
};

const char* workDir = "";
const char* sourceAvi = "";
const char* longAvi = "";

// Frames written for avs_compare: per frame its index, row size and height
// (4 bytes each), then its visible bytes row after row.
struct Dump {
  int fd;
  long frames;
};
Dump OpenDump(const char* name) {
  return Dump{_open(winrt::JoinPath(workDir, name), winrt::kOpenWrite, winrt::kReadWriteMode), 0};
}
bool DumpFrame(Dump& dump, int index, const FrameRec* frame) {
  const int32_t header[3] = {index, frame->rowSize, frame->height};
  bool ok = _write(dump.fd, header, 12) == 12;
  const uint8_t* row = frame->vfb->data + frame->offset;
  for (int y = 0; ok && y < frame->height; ++y, row += frame->pitch) {
    ok = _write(dump.fd, row, static_cast<unsigned>(frame->rowSize)) == frame->rowSize;
  }
  ++dump.frames;
  return ok;
}

// A clip made by a script; null (and a failed check) if the script gave none.
void* ClipOf(const char* script) {
  ValueRec v = Call("Eval", script);
  void* clip = nullptr;
  if (v.type == 'c') {
    clip = host.takeClip(v, host.env);
  } else {
    CHECK(v.type == 'c');
    Print(2, "    %s\n    gave '%c': %s\n", script, v.type, v.type == 'e' || v.type == 's' ? v.string : "");
  }
  host.releaseValue(v);
  return clip;
}

// ---------------------------------------------------------------------------
// The scripts.
//
// Every code 0 to 6 at an even and at an odd position, codes after codes of
// every kind, and bytes that make no frame (a line break, a letter).
constexpr const char* kPlan =
    "00112233445566"
    "1234560654321"
    "3x\n5"
    "21436";

struct Script {
  const char* name;
  const char* source;  // a script expression; AVI is the uncompressed YUY2 AVI
  const char* plan;
  int repeats;  // the plan this many times over
  // What the host's frames must show for the script to test what it is for.
  int wantPitch;   // a source frame with this pitch (0: any)
  int wantOffset;  // a source frame starting this far into its buffer (-1: any)
  bool wantPadding;
  bool shuffled;  // frames asked out of order, some twice
};

constexpr Script kScripts[] = {
    {"avi", "AVISource(AVI)", kPlan, 1, 0, -1, false, false},
    // Cropped: frames that start 3 rows and 8 pixels into the decoded ones.
    {"avi-cropped", "AVISource(AVI).Crop(8, 3, -4, -5)", kPlan, 1, 0, -1, true, false},
    // New frames of the host, 182 pixels wide: rows of 364 bytes, pitch 368.
    {"avi-bordered", "AVISource(AVI).AddBorders(2, 2, 4, 4)", kPlan, 1, 368, -1, true, false},
    // A 96 x 100 window at row 290 of 640 x 480 bars: offset 371,200, pitch 1,280.
    {"bars-window", "ColorBars(640, 480, pixel_type=\"YUY2\").ShowFrameNumber(scroll=true).Crop(0, 290, 96, 100)",
     kPlan, 1, 1280, 371200, true, false},
    // 90 pixels: rows of 180 bytes in frames of pitch 192; 188: 376 in 384.
    {"blank-90", "BlankClip(40, 90, 60, \"YUY2\", color=$3080C0).ShowFrameNumber()", kPlan, 1, 192, -1, true, false},
    {"blank-188", "BlankClip(40, 188, 36, \"YUY2\", color=$C04010).ShowFrameNumber(x=20, y=30)", kPlan, 1, 384, -1,
     true, false},
    // The long stretch: the plan 24 times over a 400-frame AVI, asked out of
    // order with the host keeping little.
    {"long", "AVISource(LONG)", kPlan, 24, 0, -1, false, true},
};

// The script text with AVI and LONG spelled out.
void Expand(Text& out, const char* source) {
  for (const char* p = source; *p; ++p) {
    if (p[0] == 'A' && p[1] == 'V' && p[2] == 'I' && p[3] == ')') {
      out << "\"" << sourceAvi << "\"";
      p += 2;
    } else if (p[0] == 'L' && p[1] == 'O' && p[2] == 'N' && p[3] == 'G' && p[4] == ')') {
      out << "\"" << longAvi << "\"";
      p += 3;
    } else {
      const char one[2] = {*p, '\0'};
      out << one;
    }
  }
}

int FramesOf(const char* plan, int length) {
  int frames = 0;
  for (int i = 0; i < length; ++i) frames += plan[i] >= '1' && plan[i] <= '6';
  return frames;
}

// Output frame order: in order, or (shuffled) forward with a step back of
// three after every seventh frame, and a pass backwards over the last 40.
int Requests(const Script& s, int frames, int* order, int capacity) {
  int count = 0;
  for (int n = 0; n < frames && count < capacity; ++n) {
    order[count++] = n;
    if (s.shuffled && n % 7 == 6 && n >= 3 && count < capacity) order[count++] = n - 3;
  }
  if (s.shuffled) {
    for (int n = frames - 1; n >= 0 && n >= frames - 40 && count < capacity; --n) order[count++] = n;
  }
  return count;
}

long framesChecked = 0;

void RunScript(const Script& s, Dump& cases) {
  winrt::tally.group = s.name;
  // The plan file.
  const int unit = static_cast<int>(strlen(s.plan));
  const int length = unit * s.repeats;
  char* plan = static_cast<char*>(malloc(static_cast<size_t>(length)));
  for (int r = 0; r < s.repeats; ++r) memcpy(plan + r * unit, s.plan, static_cast<size_t>(unit));
  Text planName;
  planName << s.name << ".zem";
  const char* planPath = winrt::JoinPath(workDir, planName.s);
  CHECK(winrt::WriteWholeFile(planPath, plan, static_cast<unsigned>(length)));
  const int frames = FramesOf(plan, length);
  free(plan);

  Text source;
  Expand(source, s.source);
  // The source frames the module may ask for: position p asks for frame p/2,
  // an odd one also for frame p/2 + 1.
  void* clip = ClipOf(source.s);
  if (clip == nullptr) return;
  const VideoInfoRec* vi = host.videoInfo(clip);
  CHECK(vi->pixelType == kYuy2);
  const int width = vi->width, height = vi->height;
  Text sourceName;
  sourceName << s.name << ".source";
  Dump dump = OpenDump(sourceName.s);
  bool sawPitch = s.wantPitch == 0, sawOffset = s.wantOffset < 0, sawPadding = !s.wantPadding;
  int minPitch = 1 << 30, maxPitch = 0, minOffset = 1 << 30, maxOffset = 0;
  for (int n = 0; n <= length / 2 + 1; ++n) {
    FrameRec* frame = host.getFrame(clip, n);
    if (!CHECK(frame != nullptr)) break;
    CHECK(DumpFrame(dump, n, frame));
    sawPitch = sawPitch || frame->pitch == s.wantPitch;
    sawOffset = sawOffset || frame->offset == s.wantOffset;
    sawPadding = sawPadding || frame->pitch > frame->rowSize;
    minPitch = frame->pitch < minPitch ? frame->pitch : minPitch;
    maxPitch = frame->pitch > maxPitch ? frame->pitch : maxPitch;
    minOffset = frame->offset < minOffset ? frame->offset : minOffset;
    maxOffset = frame->offset > maxOffset ? frame->offset : maxOffset;
    host.releaseFrame(frame);
  }
  _close(dump.fd);
  host.releaseClip(clip);
  CHECK(sawPitch && sawOffset && sawPadding);
  Print(1, "avs_client: %-12s %dx%d source frames: pitch %d..%d, offset %d..%d (rows of %d bytes)\n", s.name, width,
        height, minPitch, maxPitch, minOffset, maxOffset, 2 * width);

  // The filter over the same source.
  Text script;
  script << "ZEMIVTC(" << source.s << ", zemFile=\"" << planPath << "\")";
  void* filter = ClipOf(script.s);
  if (filter == nullptr) return;
  const VideoInfoRec* out = host.videoInfo(filter);
  CHECK(out->width == width && out->height == height && out->pixelType == kYuy2);
  CHECK(out->numFrames == frames);
  CHECK(out->fpsNumerator == 60000 && out->fpsDenominator == 1001);
  static int order[4096];
  const int requests = Requests(s, out->numFrames, order, 4096);
  Text outputName;
  outputName << s.name << ".output";
  Dump output = OpenDump(outputName.s);
  int minOutPitch = 1 << 30, maxOutPitch = 0;
  for (int i = 0; i < requests; ++i) {
    FrameRec* frame = host.getFrame(filter, order[i]);
    if (!CHECK(frame != nullptr)) {
      Print(2, "    frame %d: %s\n", order[i], host.clipError(filter) ? host.clipError(filter) : "(no error)");
      break;
    }
    CHECK(frame->rowSize == 2 * width && frame->height == height);
    CHECK(DumpFrame(output, order[i], frame));
    minOutPitch = frame->pitch < minOutPitch ? frame->pitch : minOutPitch;
    maxOutPitch = frame->pitch > maxOutPitch ? frame->pitch : maxOutPitch;
    host.releaseFrame(frame);
    ++framesChecked;
  }
  _close(output.fd);
  Print(1, "avs_client: %-12s %d requests of %d output frames: pitch %d..%d\n", s.name, requests, out->numFrames,
        minOutPitch, maxOutPitch);
  host.releaseClip(filter);
  // One line per script for avs_compare: its name and its plan file.
  Text line;
  line << s.name << " " << planName.s << "\n";
  CHECK(_write(cases.fd, line.s, static_cast<unsigned>(line.n)) == static_cast<int>(line.n));
}

// Each refusal, as the host reports it to the caller of Eval and as a script
// catches it.
void CheckRefusals() {
  winrt::tally.group = "refusals";
  const char* smallPlan = winrt::JoinPath(workDir, "refusal.zem");
  CHECK(winrt::WriteWholeFile(smallPlan, "1212", 4));
  const char* bigPlan = winrt::JoinPath(workDir, "too-long.zem");
  const int limit = 10485760;
  char* big = static_cast<char*>(malloc(limit + 1));
  memset(big, '1', limit + 1);
  CHECK(winrt::WriteWholeFile(bigPlan, big, static_cast<unsigned>(limit + 1)));
  free(big);
  const char* missing = winrt::JoinPath(workDir, "no-such-plan.zem");
  struct Refusal {
    const char* clip;
    const char* plan;  // null: no zemFile argument
    const char* message;
  } refusals[] = {
      {"ColorBars(pixel_type=\"RGB32\")", smallPlan, "Invalid video colorspace"},
      {"BlankClip(pixel_type=\"YV12\")", smallPlan, "Invalid video colorspace"},
      {"AVISource(AVI)", nullptr, "File open error"},
      {"AVISource(AVI)", missing, "File open error"},
      {"AVISource(AVI)", bigPlan, "File too long"},
  };
  for (const Refusal& r : refusals) {
    Text call;
    call << "ZEMIVTC(";
    Expand(call, r.clip);
    if (r.plan) call << ", zemFile=\"" << r.plan << "\"";
    call << ")";
    // As the host reports it to the caller.
    ValueRec v = Call("Eval", call.s);
    if (!CHECK(v.type == 'e' && winrt::SameText(FirstLine(v.string), r.message))) {
      Print(2, "    %s\n    gave '%c' \"%s\", want \"%s\"\n", call.s, v.type, v.type == 'e' ? v.string : "", r.message);
    } else {
      Print(1, "avs_client: refusal reported as \"%s\"\n", FirstLine(v.string));
    }
    host.releaseValue(v);
    // As a script sees it.
    Text caught;
    caught << "try { " << call.s << "\n\"no error\" } catch (err) { err }";
    v = Call("Eval", caught.s);
    if (!CHECK(v.type == 's' && winrt::SameText(FirstLine(v.string), r.message))) {
      Print(2, "    %s\n    caught '%c' \"%s\"\n", caught.s, v.type, v.type == 's' || v.type == 'e' ? v.string : "");
    }
    host.releaseValue(v);
  }
  _unlink(bigPlan);
  // The host goes on: a filter and a frame after all the refusals.
  Text after;
  after << "ZEMIVTC(";
  Expand(after, "AVISource(AVI)");
  after << ", zemFile=\"" << smallPlan << "\")";
  void* clip = ClipOf(after.s);
  if (clip != nullptr) {
    FrameRec* frame = host.getFrame(clip, 3);
    CHECK(frame != nullptr);
    if (frame) host.releaseFrame(frame);
    host.releaseClip(clip);
  }
}

int Main(int argc, char** argv) {
  if (argc != 6) {
    Print(2, "usage: avs_client AVISYNTH_DLL MODULE WORKDIR SOURCE_AVI LONG_AVI\n");
    return 2;
  }
  workDir = argv[3];
  sourceAvi = argv[4];
  longAvi = argv[5];
  // Its own folder first for what it imports (DevIL.dll).
  void* dll = LoadLibraryExA(argv[1], nullptr, 0x8 /* LOAD_WITH_ALTERED_SEARCH_PATH */);
  if (dll == nullptr) {
    Print(2, "avs_client: cannot load %s\n", argv[1]);
    return 3;
  }
  if (!PatchImport(dll, "msvcrt.dll", "_except_handler3", reinterpret_cast<void*>(Eh3Handler))) {
    Print(2, "avs_client: avisynth.dll imports no _except_handler3 from msvcrt.dll to replace\n");
    return 3;
  }
  bool bound = Bind(dll, host.createEnvironment, "avs_create_script_environment") &&
               Bind(dll, host.deleteEnvironment, "avs_delete_script_environment") &&
               Bind(dll, host.invoke, "avs_invoke") && Bind(dll, host.releaseValue, "avs_release_value") &&
               Bind(dll, host.takeClip, "avs_take_clip") && Bind(dll, host.releaseClip, "avs_release_clip") &&
               Bind(dll, host.videoInfo, "avs_get_video_info") && Bind(dll, host.getFrame, "avs_get_frame") &&
               Bind(dll, host.releaseFrame, "avs_release_video_frame") &&
               Bind(dll, host.clipError, "avs_clip_get_error") && Bind(dll, host.setMemoryMax, "avs_set_memory_max");
  if (!bound) return 3;
  host.env = host.createEnvironment(2);
  if (host.env == nullptr) {
    Print(2, "avs_client: the host made no script environment\n");
    return 3;
  }
  winrt::tally.group = "host";
  ValueRec version = host.invoke(host.env, "VersionString", ValueRec{'a', 0, {nullptr}}, nullptr);
  if (CHECK(version.type == 's')) Print(1, "avs_client: %s\n", version.string);
  host.releaseValue(version);
  // A low limit: the host's caches give frames back and hand them out again.
  host.setMemoryMax(host.env, 16);

  winrt::tally.group = "LoadPlugin";
  ValueRec loaded = Call("LoadPlugin", argv[2]);
  if (!CHECK(loaded.type == 's' && winrt::SameText(loaded.string, "ZEMIVTC Plugin"))) {
    Print(2, "    LoadPlugin gave '%c' \"%s\"\n", loaded.type,
          loaded.type == 's' || loaded.type == 'e' ? loaded.string : "");
    return 1;
  }
  host.releaseValue(loaded);

  Dump cases = OpenDump("cases.txt");
  for (const Script& s : kScripts) RunScript(s, cases);
  _close(cases.fd);
  CheckRefusals();

  host.deleteEnvironment(host.env);
  Print(1, "avs_client: %ld output frames written for comparison; %d checks, %d failed\n", framesChecked, tally.checks,
        tally.failures);
  return tally.failures == 0 ? 0 : 1;
}

}  // namespace

WINRT_ENTRY(AvsClientStart, Main)
