// Compile-time checks of host/avisynth.h for 32-bit Windows in Microsoft's
// C++ ABI: every size, offset and calling convention below is the host's, as
// its binary interface states them, typed here by hand rather than computed
// from the header. tests/abi/check_header_layout.sh compiles this file for
// i686-pc-windows-msvc on every build and also compares the header's virtual
// table slots with the host's.
#include "host/avisynth.h"

#if !defined(_WIN32) || defined(_WIN64) || !defined(_MSC_VER)
#error "compile for i686-pc-windows-msvc"
#endif

template <class A, class B>
struct Same {
  static constexpr bool value = false;
};
template <class A>
struct Same<A, A> {
  static constexpr bool value = true;
};

struct AvsLayoutCheck {
  static_assert(sizeof(void*) == 4 && sizeof(int) == 4 && sizeof(long) == 4, "32-bit x86");

  static_assert(sizeof(VideoInfo) == 48 && alignof(VideoInfo) == 8, "VideoInfo: 48 bytes, 8-aligned");
  static_assert(offsetof(VideoInfo, width) == 0 && offsetof(VideoInfo, height) == 4, "VideoInfo size");
  static_assert(offsetof(VideoInfo, fps_numerator) == 8 && offsetof(VideoInfo, fps_denominator) == 12,
                "VideoInfo rate");
  static_assert(offsetof(VideoInfo, num_frames) == 16 && offsetof(VideoInfo, pixel_type) == 20, "VideoInfo frames");
  static_assert(offsetof(VideoInfo, audio_samples_per_second) == 24 && offsetof(VideoInfo, sample_type) == 28,
                "VideoInfo audio rate");
  static_assert(offsetof(VideoInfo, num_audio_samples) == 32 && sizeof(VideoInfo::num_audio_samples) == 8,
                "VideoInfo samples");
  static_assert(offsetof(VideoInfo, nchannels) == 40 && offsetof(VideoInfo, image_type) == 44, "VideoInfo tail");

  static_assert(sizeof(VideoFrameBuffer) == 16, "VideoFrameBuffer: 16 bytes");
  static_assert(offsetof(VideoFrameBuffer, data) == 0 && offsetof(VideoFrameBuffer, data_size) == 4 &&
                    offsetof(VideoFrameBuffer, sequence_number) == 8 && offsetof(VideoFrameBuffer, refcount) == 12,
                "VideoFrameBuffer fields");

  static_assert(sizeof(VideoFrame) == 36, "VideoFrame: 36 bytes, no table pointer");
  static_assert(offsetof(VideoFrame, refcount) == 0 && offsetof(VideoFrame, vfb) == 4 &&
                    offsetof(VideoFrame, offset) == 8 && offsetof(VideoFrame, pitch) == 12 &&
                    offsetof(VideoFrame, row_size) == 16 && offsetof(VideoFrame, height) == 20 &&
                    offsetof(VideoFrame, offsetU) == 24 && offsetof(VideoFrame, offsetV) == 28 &&
                    offsetof(VideoFrame, pitchUV) == 32,
                "VideoFrame fields");

  static_assert(sizeof(PVideoFrame) == 4 && sizeof(PClip) == 4, "references are one pointer");

  static_assert(sizeof(AVSValue) == 8, "AVSValue: 8 bytes");
  static_assert(sizeof(AVSValue::type) == 2 && offsetof(AVSValue, type) == 0, "AVSValue type: a short at 0");
  static_assert(sizeof(AVSValue::array_size) == 2 && offsetof(AVSValue, array_size) == 2, "AVSValue array size");
  static_assert(offsetof(AVSValue, clip) == 4 && offsetof(AVSValue, integer) == 4 && offsetof(AVSValue, string) == 4,
                "AVSValue value at 4");

  static_assert(sizeof(IClip) == 8 && __builtin_offsetof(IClip, refcnt) == 4, "IClip: table pointer, count at 4");
  static_assert(sizeof(AvisynthError) == 4, "AvisynthError: one pointer");
  static_assert(sizeof(GenericVideoFilter) == 64, "GenericVideoFilter: 64 bytes");
};

struct GenericProbe : GenericVideoFilter {
  static void Check() {
    static_assert(__builtin_offsetof(GenericProbe, child) == 8 && __builtin_offsetof(GenericProbe, vi) == 16,
                  "GenericVideoFilter: child at 8, vi at 16");
  }
};

// Calling conventions: __stdcall for every virtual function but the
// destructors and the two that take variable arguments (__cdecl); the
// creation function __cdecl.
static_assert(Same<decltype(&IClip::GetVersion), int (__stdcall IClip::*)()>::value, "GetVersion");
static_assert(Same<decltype(&IClip::GetFrame), PVideoFrame (__stdcall IClip::*)(int, IScriptEnvironment*)>::value,
              "GetFrame");
static_assert(Same<decltype(&IClip::GetParity), bool (__stdcall IClip::*)(int)>::value, "GetParity");
static_assert(
    Same<decltype(&IClip::GetAudio), void (__stdcall IClip::*)(void*, __int64, __int64, IScriptEnvironment*)>::value,
    "GetAudio");
static_assert(Same<decltype(&IClip::SetCacheHints), void (__stdcall IClip::*)(int, int)>::value, "SetCacheHints");
static_assert(Same<decltype(&IClip::GetVideoInfo), const VideoInfo& (__stdcall IClip::*)()>::value, "GetVideoInfo");

using Env = IScriptEnvironment;
static_assert(Same<decltype(&Env::GetCPUFlags), long (__stdcall Env::*)()>::value, "GetCPUFlags");
static_assert(Same<decltype(&Env::SaveString), char* (__stdcall Env::*)(const char*, int)>::value, "SaveString");
static_assert(Same<decltype(&Env::Sprintf), char* (__cdecl Env::*)(const char*, ...)>::value, "Sprintf");
static_assert(Same<decltype(&Env::VSprintf), char* (__stdcall Env::*)(const char*, void*)>::value, "VSprintf");
static_assert(Same<decltype(&Env::ThrowError), void (__cdecl Env::*)(const char*, ...)>::value, "ThrowError");
static_assert(
    Same<decltype(&Env::AddFunction), void (__stdcall Env::*)(const char*, const char*, ApplyFunc, void*)>::value,
    "AddFunction");
static_assert(Same<decltype(&Env::FunctionExists), bool (__stdcall Env::*)(const char*)>::value, "FunctionExists");
static_assert(Same<decltype(&Env::Invoke), AVSValue (__stdcall Env::*)(const char*, AVSValue, const char**)>::value,
              "Invoke");
static_assert(Same<decltype(&Env::GetVar), AVSValue (__stdcall Env::*)(const char*)>::value, "GetVar");
static_assert(Same<decltype(&Env::SetVar), bool (__stdcall Env::*)(const char*, const AVSValue&)>::value, "SetVar");
static_assert(Same<decltype(&Env::SetGlobalVar), bool (__stdcall Env::*)(const char*, const AVSValue&)>::value,
              "SetGlobalVar");
static_assert(Same<decltype(&Env::PushContext), void (__stdcall Env::*)(int)>::value, "PushContext");
static_assert(Same<decltype(&Env::PopContext), void (__stdcall Env::*)()>::value, "PopContext");
static_assert(Same<decltype(&Env::NewVideoFrame), PVideoFrame (__stdcall Env::*)(const VideoInfo&, int)>::value,
              "NewVideoFrame");
static_assert(Same<decltype(&Env::MakeWritable), bool (__stdcall Env::*)(PVideoFrame*)>::value, "MakeWritable");
static_assert(Same<decltype(&Env::BitBlt), void (__stdcall Env::*)(BYTE*, int, const BYTE*, int, int, int)>::value,
              "BitBlt");
static_assert(Same<Env::ShutdownFunc, void(__cdecl*)(void*, Env*)>::value, "ShutdownFunc");
static_assert(Same<decltype(&Env::AtExit), void (__stdcall Env::*)(Env::ShutdownFunc, void*)>::value, "AtExit");
static_assert(Same<decltype(&Env::CheckVersion), void (__stdcall Env::*)(int)>::value, "CheckVersion");
static_assert(Same<decltype(&Env::Subframe), PVideoFrame (__stdcall Env::*)(PVideoFrame, int, int, int, int)>::value,
              "Subframe");
static_assert(Same<decltype(&Env::SetMemoryMax), int (__stdcall Env::*)(int)>::value, "SetMemoryMax");
static_assert(Same<decltype(&Env::SetWorkingDir), int (__stdcall Env::*)(const char*)>::value, "SetWorkingDir");
static_assert(Same<ApplyFunc, AVSValue(__cdecl*)(AVSValue, void*, Env*)>::value, "the creation function");

// A virtual call through each table, so that the compiler lays both out (the
// script reads the slots from its dump).
void TouchTables(IClip* clip, IScriptEnvironment* env) {
  clip->GetVersion();
  delete clip;
  env->GetCPUFlags();
  delete env;
}
