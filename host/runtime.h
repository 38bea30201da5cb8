// The stand-in host: loads plugin modules through their entry, keeps the
// functions they register, invokes them by name with arguments packed by
// their parameter signature, and makes frames. Also a memory source clip for
// tests and tools.
#ifndef ZEMIVTC_HOST_RUNTIME_H
#define ZEMIVTC_HOST_RUNTIME_H

#include <memory>
#include <string>
#include <vector>

#include "host/avisynth.h"

namespace host {

// A frame whose pixels the host owns, rows `pitch` bytes apart. The buffer is
// 64-byte aligned and filled with 0xCD so that unwritten bytes show. Raises
// AvisynthError for an empty frame, a pitch shorter than a row or a size
// beyond 2 GiB.
PVideoFrame MakeFrame(const VideoInfo& vi, int pitch, bool poison = true);
// Smallest pitch for vi's rows at the given alignment, a power of two up to
// 4096 (below 1: FRAME_ALIGN). -1 for another alignment, no width or a pitch
// that does not fit an int.
int AlignedPitch(const VideoInfo& vi, int align);

// Registration, invocation and module loading belong to one thread; saved
// strings and variables may be used from any. Clips that loaded modules made
// must be released before the environment, which unloads the modules.
class ScriptEnvironment : public IScriptEnvironment {
 public:
  struct Function {
    std::string name;
    std::string params;
    ApplyFunc apply;
    void* userData;
  };

  ScriptEnvironment();
  ~ScriptEnvironment() override;

  // Loads a module file, runs its entry and returns the text the entry gave.
  // Failures raise AvisynthError with a message that names the path.
  std::string LoadPlugin(const std::string& path);
  const std::vector<Function>& Functions() const { return functions; }

  // Frames from NewVideoFrame get this many bytes of extra pitch (tests).
  void SetExtraPitch(int bytes) { extraPitch = bytes; }
  // Whether frames from NewVideoFrame are filled with 0xCD first (the
  // default, so tests see unwritten bytes); tools that write every byte turn
  // it off and save a pass over memory per frame.
  void SetPoisonNewFrames(bool on) { poisonNewFrames = on; }

  long AVSC_CC GetCPUFlags() override { return 0; }
  char* AVSC_CC SaveString(const char* s, int length = -1) override;
  char* Sprintf(const char* fmt, ...) override;
  // val is the va_list itself on Windows and the address of one elsewhere,
  // where va_list may be an array type.
  char* VSprintf(const char* fmt, void* val) override;
  [[noreturn]] void ThrowError(const char* fmt, ...) override;
  // Keeps every registration (the latest of a name wins). A signature is a
  // run of types c i f b s . (any), each optionally preceded by a [name] that
  // makes it optional and nameable; a malformed one raises AvisynthError.
  void AVSC_CC AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
  bool AVSC_CC FunctionExists(const char* name) override;
  // args: one value or an array; argNames[i] names element i (null: positional).
  // Names ignore case. The function gets an array of one value per parameter,
  // unset optionals void, ints converted where floats are asked. A void
  // argument leaves its parameter unset. Bad calls raise AvisynthError.
  AVSValue AVSC_CC Invoke(const char* name, const AVSValue args, const char** argNames = nullptr) override;
  // Void when the name is not set. Locals hide globals; names ignore case.
  AVSValue AVSC_CC GetVar(const char* name) override;
  // True when the name was new. Strings are copied into host-kept text;
  // arrays, which do not own their elements, are refused.
  bool AVSC_CC SetVar(const char* name, const AVSValue& val) override;
  bool AVSC_CC SetGlobalVar(const char* name, const AVSValue& val) override;
  void AVSC_CC PushContext(int) override {}
  void AVSC_CC PopContext() override {}
  // A frame of pitch AlignedPitch(vi, align) plus the extra pitch; bad sizes
  // and alignments raise AvisynthError.
  PVideoFrame AVSC_CC NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  std::vector<Function> functions;
  int extraPitch = 0;
  bool poisonNewFrames = true;
};

// A clip whose frames, parities and audio are given by the caller. It records
// every frame number asked of it; numbers past either end are clamped, and a
// clip without frames raises AvisynthError. Audio outside `audio` is silence.
class MemoryClip : public IClip {
 public:
  MemoryClip(const VideoInfo& vi, std::vector<PVideoFrame> frames);
  std::vector<bool> parity;     // per frame; missing entries answer false
  std::vector<uint8_t> audio;   // interleaved samples, bytes
  int bytesPerAudioSample = 0;  // all channels of one sample
  std::vector<int> requests;    // frame numbers, in the order asked
  std::vector<int> parityRequests;

  PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) override;
  bool AVSC_CC GetParity(int n) override;
  void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) override;
  void AVSC_CC SetCacheHints(int, int) override {}
  const VideoInfo& AVSC_CC GetVideoInfo() override { return vi; }

 private:
  VideoInfo vi;
  std::vector<PVideoFrame> frames;
};

}  // namespace host

#endif
