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

// A frame whose pixels the host owns, rows `pitch` bytes apart.
PVideoFrame MakeFrame(const VideoInfo& vi, int pitch);
// Smallest pitch for vi's rows at the given alignment (a power of two).
int AlignedPitch(const VideoInfo& vi, int align);

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

  long AVSC_CC GetCPUFlags() override { return 0; }
  char* AVSC_CC SaveString(const char* s, int length = -1) override;
  char* Sprintf(const char* fmt, ...) override;
  char* VSprintf(const char* fmt, void* val) override;
  [[noreturn]] void ThrowError(const char* fmt, ...) override;
  void AVSC_CC AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
  bool AVSC_CC FunctionExists(const char* name) override;
  // args: one value or an array; argNames[i] names element i (null: positional).
  AVSValue AVSC_CC Invoke(const char* name, const AVSValue args, const char** argNames = nullptr) override;
  AVSValue AVSC_CC GetVar(const char* name) override;
  bool AVSC_CC SetVar(const char* name, const AVSValue& val) override;
  bool AVSC_CC SetGlobalVar(const char* name, const AVSValue& val) override;
  void AVSC_CC PushContext(int) override {}
  void AVSC_CC PopContext() override {}
  PVideoFrame AVSC_CC NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  std::vector<Function> functions;
  int extraPitch = 0;
};

// A clip whose frames, parities and audio are given by the caller. It records
// every frame number asked of it; numbers past either end are clamped.
class MemoryClip : public IClip {
 public:
  MemoryClip(const VideoInfo& vi, std::vector<PVideoFrame> frames);
  std::vector<bool> parity;          // per frame; missing entries answer false
  std::vector<uint8_t> audio;        // interleaved samples, bytes
  int bytesPerAudioSample = 0;       // all channels of one sample
  std::vector<int> requests;         // frame numbers, in the order asked
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
