// The create function: the checks the command makes, in its order and with
// its words (the format, the field order, the geometry the conversions can
// carry, the frame size, the plan), then the instance and the node.
#include "plan/plan_file.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "vapoursynth/filter.h"

#if defined(_WIN32)
extern "C" {
__declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned codePage, unsigned long flags, const char* text,
                                                        int bytes, wchar_t* wide, int wideChars);
__declspec(dllimport) int __cdecl _wopen(const wchar_t* path, int flags, ...);
}
#endif

void FreeInstance(ZemIvtcInstance* d, const VSAPI* vsapi) {
  if (!d) return;
  if (d->source) vsapi->freeNode(d->source);
  free(d->frameTable);
  free(d->times);
  FreeFilterTables(d->tables);
  FreePlaneOffsets(d->offsets);
  free(d);
}

namespace {

// Sets "ZEMIVTC: <what>" as the creation's error and releases what the
// creation held so far.
void Refuse(VSMap* out, const VSAPI* vsapi, ZemIvtcInstance* d, const char* what) {
  Message message;
  message << FilterName << ": " << what;
  vsapi->mapSetError(out, message.text);
  FreeInstance(d, vsapi);
}

// The chroma layout of the formats the filter takes: 8-bit YUV 4:2:0 and
// 4:2:2, and luma alone.
bool ChromaOf(const VSVideoFormat& f, PlanarChroma* chroma) {
  if (f.sampleType != stInteger || f.bitsPerSample != 8) return false;
  if (f.colorFamily == cfGray) {
    *chroma = PlanarGray;
    return true;
  }
  if (f.colorFamily != cfYUV || f.subSamplingW != 1 || f.subSamplingH > 1) return false;
  *chroma = f.subSamplingH == 1 ? PlanarYuv420 : PlanarYuv422;
  return true;
}

// The field order: the tff argument (0 or 1), else the first frame's
// _FieldBased (1 bottom field first, 2 top field first), else top field first. `why`
// gets the order and where it came from; false (with the reason in `why`)
// when the order cannot be had.
bool DecideFieldOrder(const VSMap* in, VSNode* source, const VSAPI* vsapi, bool* bottomFirst, Message& why) {
  int unset = 0;
  const int64_t tff = vsapi->mapGetInt(in, "tff", 0, &unset);
  if (!unset) {  // 0 or 1: checked before
    *bottomFirst = tff == 0;
    why << (tff ? "top" : "bottom") << " field first (the tff argument)";
    return true;
  }
  char error[256] = {0};
  const VSFrame* first = vsapi->getFrame(0, source, error, sizeof error);
  if (!first) {
    why << "cannot read the first frame for its _FieldBased (" << error << "); name the field order with tff";
    return false;
  }
  int missing = 0;
  const int64_t fieldBased = vsapi->mapGetInt(vsapi->getFramePropertiesRO(first), "_FieldBased", 0, &missing);
  vsapi->freeFrame(first);
  *bottomFirst = !missing && fieldBased == 1;
  if (!missing && (fieldBased == 1 || fieldBased == 2)) {
    why << (fieldBased == 1 ? "bottom" : "top") << " field first (the first frame's _FieldBased is " << fieldBased
        << ")";
  } else if (missing) {
    why << "top field first (no tff argument, and the first frame has no _FieldBased)";
  } else {
    why << "top field first (no tff argument, and the first frame's _FieldBased is " << fieldBased << ")";
  }
  return true;
}

// The plan argument as a path with its terminating zero (null when it is
// not given or holds a zero byte: "File open error" then, as the command).
char* PlanPath(const VSMap* in, const VSAPI* vsapi) {
  int unset = 0;
  const char* data = vsapi->mapGetData(in, "zemFile", 0, &unset);
  const int size = unset ? 0 : vsapi->mapGetDataSize(in, "zemFile", 0, &unset);
  if (unset || !data || size < 0) return nullptr;
  char* path = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
  if (!path) return nullptr;
  for (int i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      free(path);
      return nullptr;
    }
    path[i] = data[i];
  }
  path[size] = '\0';
  return path;
}

// Opens the plan for reading, -1 when it cannot. The host's strings are
// UTF-8; Windows reads a narrow path in the system's code page, so there the
// path goes through UTF-16 (else a plan in a folder named in another script
// than the system's could not be opened).
int OpenPlan(const char* path) {
#if defined(_WIN32)
  const unsigned long strictUtf8 = 8;  // MB_ERR_INVALID_CHARS
  const int chars = MultiByteToWideChar(65001 /* CP_UTF8 */, strictUtf8, path, -1, nullptr, 0);
  wchar_t* wide = chars > 0 ? static_cast<wchar_t*>(malloc(sizeof(wchar_t) * static_cast<size_t>(chars))) : nullptr;
  if (!wide) return -1;
  MultiByteToWideChar(65001, strictUtf8, path, -1, wide, chars);
  const int fd = _wopen(wide, 0x8000 /* _O_RDONLY | _O_BINARY: never creates; a folder is refused */);
  free(wide);
  return fd;
#else
  return platform::OpenForReading(path);
#endif
}

// Reads the plan into the frame table; the error's words, or null.
const char* ReadPlan(const VSMap* in, const VSAPI* vsapi, ZemIvtcInstance* d) {
  char* path = PlanPath(in, vsapi);
  const int fd = path ? OpenPlan(path) : -1;
  free(path);
  uint8_t* plan = nullptr;
  int32_t planSize = 0;
  const PlanReadResult read = fd < 0 ? PlanOpenError : ReadPlanFrom(fd, &plan, &planSize);
  if (read != PlanReadOk) return PlanReadMessage(read);
  d->dependsOnOrder = PlanDependsOnFieldOrder(plan, planSize);
  d->frameCount = CountPlanFrames(plan, planSize);
  // A clip has at least one frame: the command refuses such a plan at its
  // first frame, before it writes anything; here it is refused at once.
  if (d->frameCount == 0) {
    free(plan);
    return "The plan makes no frames: a clip needs at least one (a byte from 1 to 6)";
  }
  const size_t count = static_cast<size_t>(d->frameCount);
  d->frameTable = static_cast<FramePlanEntry*>(malloc(sizeof(FramePlanEntry) * count));
  d->times = static_cast<FrameTime*>(malloc(sizeof(FrameTime) * (count + 1)));
  if (d->frameTable) FillFrameTable(plan, planSize, d->frameTable);
  free(plan);
  return d->frameTable && d->times ? nullptr : "Out of memory";
}

// Every frame's start and the last one's end, as the command's timecodes
// have them; the clip's rate is the one rate of all frames' durations, or
// variable (0/0) when they differ. The error's words, or null.
const char* SetTimes(ZemIvtcInstance* d) {
  const int32_t count = d->frameCount;
  FrameTimes(d->frameTable, count, d->times);
  d->times[count] = LastFrameEnd(d->times[count - 1], count > 1 ? &d->times[count - 2] : nullptr);
  int64_t firstNum = 0, firstDen = 0;
  bool oneRate = true;
  for (int32_t n = 0; n < count; ++n) {
    int64_t num = 0, den = 0;
    if (!DurationSeconds(d->times[n], d->times[n + 1], &num, &den)) return "The plan's frame times do not fit";
    if (n == 0) {
      firstNum = num;
      firstDen = den;
    }
    oneRate = oneRate && num == firstNum && den == firstDen;
  }
  // A duration in lowest terms turned over is a rate in lowest terms.
  d->vi.fpsNum = oneRate ? firstDen : 0;
  d->vi.fpsDen = oneRate ? firstNum : 0;
  return nullptr;
}

// Says which field order the clip took and why; as the command, that a plan
// reaching past the clip takes its last frame for the frames it lacks; and
// where the first frame starts, when that is not at 0.
void LogChoices(const ZemIvtcInstance& d, const char* order, VSCore* core, const VSAPI* vsapi) {
  Message message;
  message << FilterName << ": " << order;
  vsapi->logMessage(mtInformation, message.text, core);
  int32_t highest = 0;
  for (int32_t n = 0; n < d.frameCount; ++n) {
    const FrameRecipe recipe = RecipeFor(d.frameTable[n]);
    const int32_t needed = recipe.code == '4' ? recipe.lower : recipe.upper;
    if (needed > highest) highest = needed;
  }
  if (highest >= d.sourceFrames) {
    Message warning;
    warning << FilterName << ": the plan reaches input frame " << highest << " but the clip has " << d.sourceFrames
            << " frames; the last frame stands in for the missing ones";
    vsapi->logMessage(mtWarning, warning.text, core);
  }
  // Durations cannot say when the first frame starts: a player (and vspipe's
  // timecodes) start it at 0, the command's timecodes where the plan puts it.
  if (d.times[0].numerator == 0) return;
  char start[40];
  start[FormatTimecodeLine(d.times[0], start) - 1] = '\0';
  Message offset;
  offset << FilterName << ": the first frame starts " << start
         << " ms into the clip (the command's first timecode); the frames' durations count from it";
  vsapi->logMessage(mtInformation, offset.text, core);
}

}  // namespace

void VS_CC CreateZemIvtc(const VSMap* in, VSMap* out, void* /*userData*/, VSCore* core, const VSAPI* vsapi) {
  ZemIvtcInstance* d = static_cast<ZemIvtcInstance*>(malloc(sizeof(ZemIvtcInstance)));
  if (!d) {
    VSNode* source = vsapi->mapGetNode(in, "clip", 0, nullptr);
    if (source) vsapi->freeNode(source);
    return Refuse(out, vsapi, nullptr, "Out of memory");
  }
  memset(d, 0, sizeof *d);
  d->source = vsapi->mapGetNode(in, "clip", 0, nullptr);
  if (!d->source) return Refuse(out, vsapi, d, "no clip");
  const VSVideoInfo& source = *vsapi->getVideoInfo(d->source);
  d->vi = source;
  d->sourceFrames = source.numFrames;

  PlanarChroma chroma = PlanarYuv422;
  if (source.format.colorFamily == cfUndefined || source.width <= 0 || source.height <= 0 ||
      !ChromaOf(source.format, &chroma)) {
    char name[64] = "a format of its own";
    if (source.format.colorFamily != cfUndefined) vsapi->getVideoFormatName(&source.format, name);
    Message why;
    if (source.format.colorFamily == cfUndefined)
      why << "the clip's format varies from frame to frame";
    else if (source.width <= 0 || source.height <= 0)
      why << "the clip's frame size varies from frame to frame";
    else
      why << "the clip is " << name;
    why << "; ZEMIVTC takes clips of one size in YUV420P8, YUV422P8 or Gray8 (convert first, e.g. "
           "clip.resize.Point(format=vs.YUV422P8))";
    return Refuse(out, vsapi, d, why.text);
  }

  // The plan is read first, as the command reads it before it decides the
  // field order, but its errors come after the clip's, in the command's order.
  // A plan whose frames are the same in either order needs none (and the
  // frames are then not turned over, whatever the clip says); one that
  // cannot be read counts as needing it.
  d->dependsOnOrder = true;
  const char* planError = ReadPlan(in, vsapi, d);
  int unset = 0;
  const int64_t tff = vsapi->mapGetInt(in, "tff", 0, &unset);
  if (!unset && tff != 0 && tff != 1) {
    Message why;
    why << "tff must be 1 (top field first) or 0 (bottom field first), not " << tff;
    return Refuse(out, vsapi, d, why.text);
  }
  bool bottomFirst = false;
  Message order;
  if (!d->dependsOnOrder)
    order << "field order: does not matter for this plan";
  else if (!DecideFieldOrder(in, d->source, vsapi, &bottomFirst, order))
    return Refuse(out, vsapi, d, order.text);
  d->layout = PackedLayout{chroma, bottomFirst};
  char problem[LayoutProblemBytes];
  if (LayoutProblemText(source.width, source.height, d->layout, CommandCropHint, problem))
    return Refuse(out, vsapi, d, problem);
  // The module's own limits: a row per field, and 32-bit byte offsets in the
  // packed frame.
  if (source.height < 2) return Refuse(out, vsapi, d, "Video height must be at least 2");
  if (2LL * source.width * source.height > 0x7FFFFFFFLL) return Refuse(out, vsapi, d, "Invalid video size");
  if (planError) return Refuse(out, vsapi, d, planError);
  if (const char* error = SetTimes(d)) return Refuse(out, vsapi, d, error);
  d->vi.numFrames = d->frameCount;
  if (!BuildFilterTables(source.width, source.height, d->tables)) return Refuse(out, vsapi, d, "Out of memory");

  LogChoices(*d, order.text, core, vsapi);

  // fmParallel: after this point the instance is only read, so the core may
  // make any number of frames at once on its own threads. Each call works on
  // buffers of its own with a pool of no workers (compose on the calling
  // thread): a second pool beside the core's would only take its cores.
  const VSFilterDependency dependency{d->source, rpGeneral};
  vsapi->createVideoFilter(out, FilterName, &d->vi, ZemIvtcGetFrame, ZemIvtcFree, fmParallel, &dependency, 1, d, core);
}
