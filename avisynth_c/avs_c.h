// The host family's C interface, as this module uses it: the records, the
// constants and the functions, declared from the interface's binary facts
// (no host header is used). One declaration serves 32-bit Windows (AviSynth
// 2.6 and AviSynth+, every function __stdcall), 64-bit Windows and Linux
// x86-64 (AviSynth+).
//
// The host's functions are reached through one table, AvsApi. Its first part
// holds functions that the oldest host (AviSynth 2.60 of May 2012, interface
// 5) exports: on Windows the module imports them from avisynth.dll by name,
// so they must stay within that host's 38 exports (avisynth.def lists
// them, and the build checks the DLL against it). Its second part holds newer
// functions, looked up at run time and null where the host lacks them. On
// Linux every function is looked up at run time in the library that called
// the module's entry point (avs_link.h).
//
// Built into the Windows modules: no C or C++ library here.
#ifndef ZEMIVTC_AVISYNTH_C_AVS_C_H
#define ZEMIVTC_AVISYNTH_C_AVS_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define AVSC_CC __stdcall
#else
#define AVSC_CC
#endif

struct AvsEnv;  // AVS_ScriptEnvironment
struct AvsClip;
struct AvsMap;

// 48 bytes on every target.
struct AvsVideoInfo {
  int width, height;
  unsigned fpsNumerator, fpsDenominator;
  int numFrames;
  int pixelType;
  int audioSamplesPerSecond;
  int sampleType;
  int64_t numAudioSamples;
  int nchannels;
  int imageType;  // AvsImageType bits; AviSynth+ keeps a channel mask in the high bits
};

// 8 bytes on 32-bit x86, 16 on 64-bit targets. Types: 'c'lip, 'b'ool,
// 'i'nt, 'f'loat, 's'tring, 'a'rray, 'v'oid (an optional argument not
// given), 'e'rror.
struct AvsValue {
  short type;
  short arraySize;
  union {
    void* clip;
    char boolean;
    int integer;
    float floatingPoint;
    const char* string;
    const AvsValue* array;
  } d;
};

struct AvsFilterInfo;
typedef AvsValue(AVSC_CC* AvsApplyFunc)(AvsEnv* env, AvsValue args, void* userData);

// The frame records of AviSynth 2.6 (AviSynth+ appends fields). Read only
// where the host does not export the plane accessors.
struct AvsVideoFrameBuffer {
  uint8_t* data;
  int dataSize;
  volatile long sequenceNumber;
  volatile long refcount;
};
struct AvsVideoFrame {
  volatile long refcount;
  AvsVideoFrameBuffer* vfb;
  int offset, pitch, rowSize, height, offsetU, offsetV, pitchUV, rowSizeUV, heightUV;
};

// What avs_new_c_filter hands the filter. The callbacks are __stdcall on
// 32-bit Windows; a null one is forwarded to the stored child.
struct AvsFilterInfo {
  AvsClip* child;
  AvsVideoInfo vi;
  AvsEnv* env;  // lives as long as the filter
  AvsVideoFrame*(AVSC_CC* getFrame)(AvsFilterInfo* fi, int n);
  int(AVSC_CC* getParity)(AvsFilterInfo* fi, int n);
  int(AVSC_CC* getAudio)(AvsFilterInfo* fi, void* buffer, int64_t start, int64_t count);
  int(AVSC_CC* setCacheHints)(AvsFilterInfo* fi, int hints, int frameRange);
  void(AVSC_CC* freeFilter)(AvsFilterInfo* fi);
  const char* error;  // set in a callback: the host raises it after the callback returns
  void* userData;
};

static_assert(sizeof(AvsVideoInfo) == 48 && __builtin_offsetof(AvsVideoInfo, imageType) == 44, "AVS_VideoInfo");
static_assert(sizeof(AvsValue) == (sizeof(void*) == 4 ? 8 : 16), "AVS_Value: 8 bytes on x86, 16 on x64");
static_assert(sizeof(void*) == 4
                  ? __builtin_offsetof(AvsFilterInfo, env) == 56 && __builtin_offsetof(AvsFilterInfo, getFrame) == 60 &&
                        __builtin_offsetof(AvsFilterInfo, error) == 80 && sizeof(AvsFilterInfo) == 88
                  : __builtin_offsetof(AvsFilterInfo, env) == 56 && __builtin_offsetof(AvsFilterInfo, getFrame) == 64 &&
                        __builtin_offsetof(AvsFilterInfo, error) == 104 && sizeof(AvsFilterInfo) == 120,
              "AVS_FilterInfo offsets");
static_assert(sizeof(void*) == 8 ||
                  (__builtin_offsetof(AvsVideoFrame, offset) == 8 && __builtin_offsetof(AvsVideoFrame, pitch) == 12 &&
                   __builtin_offsetof(AvsVideoFrame, pitchUV) == 32),
              "AVS_VideoFrame of AviSynth 2.6");

// Pixel type bits, and the three formats the module takes.
enum : uint32_t {
  AvsCsBgr = 1u << 28,
  AvsCsYuv = 1u << 29,
  AvsCsInterleaved = 1u << 30,
  AvsCsPlanar = 1u << 31,
  AvsCsYuva = 1u << 27,
  AvsCsSubWidthMask = 3u,          // 3: none, 0: half, 1: quarter
  AvsCsSubHeightMask = 3u << 8,    // 3 << 8: none, 0: half, 1 << 8: quarter
  AvsCsSampleBitsMask = 7u << 16,  // 0: 8, 5: 10, 6: 12, 7: 14, 1: 16, 2: 32 (float)
  AvsCsPlaneOrderMask = 3u << 3,   // YV (V first) or I (U first): hidden by the plane accessors
  AvsCsYuy2 = 0x60000004u,
  AvsCsYv12 = 0xA0000008u,
  AvsCsI420 = 0xA0000010u,
  AvsCsYv16 = 0xA0000308u,
};

enum AvsImageType : int { AvsItBff = 1, AvsItTff = 2, AvsItFieldBased = 4 };
enum AvsPlane : int { AvsPlaneDefault = 0, AvsPlaneY = 1, AvsPlaneU = 2, AvsPlaneV = 4 };
enum : int { AvsCacheGetMtMode = 509, AvsMtNiceFilter = 1, AvsMtMultiInstance = 2, AvsPropReplace = 0 };

// The host functions, in two lists: X(return type, table slot, exported
// name, parameters). The first list is imported on Windows (and must stay
// within avisynth.def); the second is looked up at run time everywhere.
#define ZEMIVTC_AVS_IMPORTED(X)                                                                               \
  X(int, addFunction, avs_add_function,                                                                       \
    (AvsEnv * env, const char* name, const char* params, AvsApplyFunc apply, void* userData))                 \
  X(AvsClip*, newCFilter, avs_new_c_filter, (AvsEnv * env, AvsFilterInfo * *fi, AvsValue child, int store))   \
  X(void, releaseClip, avs_release_clip, (AvsClip * clip))                                                    \
  X(void, setToClip, avs_set_to_clip, (AvsValue * value, AvsClip * clip))                                     \
  X(const char*, clipGetError, avs_clip_get_error, (AvsClip * clip))                                          \
  X(AvsVideoFrame*, getFrame, avs_get_frame, (AvsClip * clip, int n))                                         \
  X(void, releaseVideoFrame, avs_release_video_frame, (AvsVideoFrame * frame))                                \
  X(AvsVideoFrame*, newVideoFrameA, avs_new_video_frame_a, (AvsEnv * env, const AvsVideoInfo* vi, int align)) \
  X(int, makeWritable, avs_make_writable, (AvsEnv * env, AvsVideoFrame * *frame))                             \
  X(const char*, saveString, avs_save_string, (AvsEnv * env, const char* text, int length))
#define ZEMIVTC_AVS_LOOKED_UP(X)                                                                                 \
  X(int, getPitchP, avs_get_pitch_p, (const AvsVideoFrame* frame, int plane))                                    \
  X(const uint8_t*, getReadPtrP, avs_get_read_ptr_p, (const AvsVideoFrame* frame, int plane))                    \
  X(uint8_t*, getWritePtrP, avs_get_write_ptr_p, (const AvsVideoFrame* frame, int plane))                        \
  X(AvsMap*, getFramePropsRw, avs_get_frame_props_rw, (AvsEnv * env, AvsVideoFrame * frame))                     \
  X(int, propSetInt, avs_prop_set_int, (AvsEnv * env, AvsMap * map, const char* key, int64_t value, int append)) \
  X(AvsVideoFrame*, newVideoFrameP, avs_new_video_frame_p,                                                       \
    (AvsEnv * env, const AvsVideoInfo* vi, const AvsVideoFrame* propertySource))

#define ZEMIVTC_AVS_SLOT(ret, slot, name, params) ret(AVSC_CC* slot) params;
struct AvsApi {
  ZEMIVTC_AVS_IMPORTED(ZEMIVTC_AVS_SLOT)
  ZEMIVTC_AVS_LOOKED_UP(ZEMIVTC_AVS_SLOT)
};
#undef ZEMIVTC_AVS_SLOT

// The values the inline helpers of the host's header make.
inline AvsValue AvsErrorValue(const char* message) {
  AvsValue v{'e', 0, {nullptr}};
  v.d.string = message;
  return v;
}
inline AvsValue AvsArrayElement(const AvsValue& args, int i) {
  if (args.type != 'a') return args;
  if (i >= args.arraySize) return AvsValue{'v', 0, {nullptr}};
  return args.d.array[i];
}

// A plane's first byte and pitch, through the host's accessors where it has
// them, else from AviSynth 2.6's frame record as that host's inline helpers
// read it (a write pointer only for a frame held once, alone in its buffer).
inline int AvsPitch(const AvsApi& api, const AvsVideoFrame* f, int plane) {
  if (api.getPitchP) return api.getPitchP(f, plane);
  return plane == AvsPlaneU || plane == AvsPlaneV ? f->pitchUV : f->pitch;
}
inline int AvsPlaneOffset(const AvsVideoFrame* f, int plane) {
  return plane == AvsPlaneU ? f->offsetU : plane == AvsPlaneV ? f->offsetV : f->offset;
}
inline const uint8_t* AvsReadPtr(const AvsApi& api, const AvsVideoFrame* f, int plane) {
  if (api.getReadPtrP) return api.getReadPtrP(f, plane);
  return f->vfb->data + AvsPlaneOffset(f, plane);
}
inline uint8_t* AvsWritePtr(const AvsApi& api, AvsVideoFrame* f, int plane) {
  if (api.getWritePtrP) return api.getWritePtrP(f, plane);
  if (f->refcount != 1 || f->vfb->refcount != 1) return nullptr;
  ++f->vfb->sequenceNumber;
  return f->vfb->data + AvsPlaneOffset(f, plane);
}

#endif
