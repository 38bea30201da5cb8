// The module's entry point and the creation function of ZEMIVTC on the C
// interface: the version-2 module's name and plan argument, so that its
// scripts carry over, and the field order, the output rate and a timecodes
// file. Every refusal comes back to the script as an error value before any
// frame is asked for.
#include "avisynth_c/avs_c.h"
#include "avisynth_c/avs_link.h"
#include "avisynth_c/zem_filter.h"
#include "platform/crt.h"
#include "platform/text.h"

namespace {

enum Argument { ArgClip, ArgPlan, ArgFieldOrder, ArgFpsNum, ArgFpsDen, ArgTimecodes };
const char* const kParameters = "c[zemFile]s[fieldOrder]s[fpsNum]i[fpsDen]i[timecodes]s";
const char* const kTakes = "ZEMIVTC takes YUY2, YV12, I420 and YV16";

// The AviSynth name of a pixel type: the classic ones by value, the others
// (AviSynth+'s deeper, alpha and planar RGB formats) from their bits.
void PutFormatName(TextBuffer& t, uint32_t type) {
  static const struct {
    uint32_t type;
    const char* name;
  } kNamed[] = {{AvsCsYuy2, "YUY2"},    {AvsCsYv12, "YV12"},    {AvsCsI420, "I420"},   {AvsCsYv16, "YV16"},
                {0xA000030Bu, "YV24"},  {0xA0000309u, "YV411"}, {0xE0000000u, "Y8"},   {0x50000001u, "RGB24"},
                {0x50000002u, "RGB32"}, {0x50010001u, "RGB48"}, {0x50010002u, "RGB64"}};
  for (const auto& named : kNamed) {
    if (named.type == type) {
      t << named.name;
      return;
    }
  }
  static const char* const kBits[8] = {"8", "16", "S", nullptr, nullptr, "10", "12", "14"};
  const char* bits = kBits[(type & AvsCsSampleBitsMask) >> 16];
  const uint32_t w = type & AvsCsSubWidthMask, h = (type & AvsCsSubHeightMask) >> 8;
  const char* chroma = w == 3 && h == 3   ? "444"
                       : w == 0 && h == 3 ? "422"
                       : w == 0 && h == 0 ? "420"
                       : w == 1 && h == 3 ? "411"
                                          : nullptr;
  const bool planar = (type & AvsCsPlanar) != 0, yuv = (type & AvsCsYuv) != 0, rgb = (type & AvsCsBgr) != 0;
  if (planar && yuv && bits && (type & AvsCsInterleaved)) {
    t << "Y" << (bits[0] == 'S' ? "32" : bits);
  } else if (planar && yuv && bits && chroma) {
    t << ((type & AvsCsYuva) ? "YUVA" : "YUV") << chroma << "P" << bits;
  } else if (planar && rgb && bits) {
    t << ((type & 2) ? "RGBAP" : "RGBP") << bits;
  } else {
    t << "pixel type ";
    PutHex(t, type);
  }
}

// A message made for this call, kept by the host as long as the script.
AvsValue Refuse(AvsEnv*, AvsClip* clip, const char* message) {
  avs.releaseClip(clip);  // runs no callback: none is installed yet
  return AvsErrorValue(message);
}
AvsValue Refuse(AvsEnv* env, AvsClip* clip, const TextBuffer& t, const char* text) {
  const char* saved = avs.saveString(env, text, static_cast<int>(t.at - text));
  return Refuse(env, clip, saved != nullptr ? saved : "ZEMIVTC: invalid arguments");
}

// Writes the plan's timecodes as the command's --timecodes does.
bool WriteTimecodes(const char* path, const PlanState& plan) {
  const int32_t kChunk = 1 << 16;
  char* buffer = static_cast<char*>(malloc(kChunk));
  const int fd = buffer != nullptr ? CreateOutputFile(path) : -1;
  if (fd < 0) {
    free(buffer);
    return false;
  }
  int32_t used = 0;
  for (const char* h = TimecodesHeader; *h; ++h) buffer[used++] = *h;
  bool ok = true;
  for (int32_t i = 0; ok && i < plan.frameCount; ++i) {
    used += FormatTimecodeLine(plan.times[i], buffer + used);
    if (used > kChunk - 40) {
      ok = WriteOutput(fd, buffer, static_cast<uint32_t>(used));
      used = 0;
    }
  }
  if (ok && used > 0) ok = WriteOutput(fd, buffer, static_cast<uint32_t>(used));
  free(buffer);
  return CloseOutput(fd) && ok;
}

AvsValue AVSC_CC CreateZemIvtc(AvsEnv* env, AvsValue args, void* /*userData*/) {
  const AvsValue child = AvsArrayElement(args, ArgClip);
  if (child.type != 'c') return AvsErrorValue("ZEMIVTC: the first argument must be a clip");
  AvsFilterInfo* fi = nullptr;
  AvsClip* clip = avs.newCFilter(env, &fi, child, 1);
  if (clip == nullptr || fi == nullptr) return AvsErrorValue("Out of memory");
  char text[512];
  TextBuffer t = StartText(text, sizeof text);
  AvsVideoInfo& vi = fi->vi;
  const uint32_t type = static_cast<uint32_t>(vi.pixelType);

  // The format: YUY2 as the version-2 module takes it, or 8-bit planar 4:2:0
  // (YV12, I420: the accessors hide the plane order) or 4:2:2.
  const uint32_t format = type & ~AvsCsPlaneOrderMask;
  const bool is420 = format == (AvsCsYv12 & ~AvsCsPlaneOrderMask);
  const bool is422 = format == (AvsCsYv16 & ~AvsCsPlaneOrderMask);
  ZemInstance z{};
  z.planar = is420 || is422;
  z.layout.chroma = is420 ? PlanarYuv420 : PlanarYuv422;
  if (type != AvsCsYuy2 && !z.planar) {
    t << "Invalid video colorspace: ";
    PutFormatName(t, type);
    t << " (" << kTakes << ")";
    return Refuse(env, clip, t, text);
  }
  // The field tables need at least one row per field; offsets are 32-bit.
  if (vi.height < 2) return Refuse(env, clip, "Video height must be at least 2");
  if (vi.width < 1 || 2LL * vi.width * vi.height > 0x7FFFFFFFLL) return Refuse(env, clip, "Invalid video size");

  // The plan is read before the field order is decided, as the command reads
  // it, but its errors come after the clip's. A plan whose frames are the
  // same in either order needs none: its frames are not turned over, whatever
  // the clip says.
  const AvsValue planPath = AvsArrayElement(args, ArgPlan), timecodes = AvsArrayElement(args, ArgTimecodes);
  const char* path = planPath.type == 's' ? planPath.d.string : nullptr;
  const PlanReadResult read = AcquirePlan(path, &z.plan);
  const bool dependsOnOrder = read != PlanReadOk || z.plan->dependsOnOrder;
  auto refuse = [&](const char* message) {
    ReleasePlan(z.plan);
    return t.at != text ? Refuse(env, clip, t, text) : Refuse(env, clip, message);
  };

  // The field order: the argument, else the clip's explicit bits (parity
  // alone says bottom first for a clip that states nothing), else top first.
  const AvsValue order = AvsArrayElement(args, ArgFieldOrder);
  if (order.type == 's') {
    if (!SameWord(order.d.string, "tff") && !SameWord(order.d.string, "bff")) {
      t << "ZEMIVTC: fieldOrder must be \"tff\" or \"bff\", not \"" << order.d.string << "\"";
      return refuse(nullptr);
    }
    z.layout.mirrored = SameWord(order.d.string, "bff");
  } else {
    z.layout.mirrored = (vi.imageType & AvsItTff) == 0 && (vi.imageType & AvsItBff) != 0;
  }
  z.layout.mirrored = z.layout.mirrored && dependsOnOrder;
  char problem[LayoutProblemBytes];
  if (LayoutProblemText(vi.width, vi.height, z.layout, "Crop, AddBorders", problem)) {
    t << "ZEMIVTC: " << problem;
    return refuse(nullptr);
  }

  // The stated rate, in lowest terms as the host's own SetFPS keeps it.
  const AvsValue num = AvsArrayElement(args, ArgFpsNum), den = AvsArrayElement(args, ArgFpsDen);
  if (num.type != 'i' && den.type == 'i') return refuse("ZEMIVTC: fpsDen needs fpsNum");
  const int32_t fpsNum = num.type == 'i' ? num.d.integer : 60000;
  const int32_t fpsDen = den.type == 'i' ? den.d.integer : num.type == 'i' ? 1 : 1001;
  if (fpsNum < 1 || fpsDen < 1) {
    t << "ZEMIVTC: the rate fpsNum/fpsDen must be positive (got " << fpsNum << "/" << fpsDen << ")";
    return refuse(nullptr);
  }

  if (timecodes.type == 's' && path != nullptr && SameText(timecodes.d.string, path))
    return refuse("ZEMIVTC: timecodes names the plan file, which it would overwrite");
  if (read != PlanReadOk) return refuse(PlanReadMessage(read));
  if (timecodes.type == 's' && !WriteTimecodes(timecodes.d.string, *z.plan)) {
    t << "ZEMIVTC: cannot write the timecodes file \"" << timecodes.d.string << "\"";
    return refuse(nullptr);
  }

  z.width = vi.width;
  z.height = vi.height;
  z.lastSource = vi.numFrames > 0 ? vi.numFrames - 1 : 0;
  z.setProperties = avs.getFramePropsRw != nullptr && avs.propSetInt != nullptr;
  vi.numFrames = z.plan->frameCount;
  const uint32_t divisor =
      static_cast<uint32_t>(GreatestCommonDivisor(static_cast<uint32_t>(fpsNum), static_cast<uint32_t>(fpsDen)));
  vi.fpsNumerator = static_cast<uint32_t>(fpsNum) / divisor;
  vi.fpsDenominator = static_cast<uint32_t>(fpsDen) / divisor;
  if (!StartInstance(fi, z)) {
    ReleasePlan(z.plan);
    return Refuse(env, clip, "Out of memory");
  }
  AvsValue result{'v', 0, {nullptr}};
  avs.setToClip(&result, clip);
  avs.releaseClip(clip);
  return result;
}

}  // namespace

#if defined(_WIN32)
#define ZEMIVTC_ENTRY extern "C"
#else
#define ZEMIVTC_ENTRY extern "C" __attribute__((visibility("default")))
#endif

// Every host looks for this name (on 32-bit Windows under several spellings,
// which the link exports: avisynth_c/CMakeLists.txt).
ZEMIVTC_ENTRY const char* AVSC_CC avisynth_c_plugin_init(AvsEnv* env) {
  if (!BindHostFunctions(__builtin_return_address(0), avs)) return nullptr;
  if (avs.addFunction(env, "ZEMIVTC", kParameters, CreateZemIvtc, nullptr) != 0) return nullptr;
  return "ZEMIVTC Plugin";
}
