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

// Row 0 of a frame lies this far into its buffer: frames are windows into
// buffers, as a real host's are, and the byte before row 0 belongs to
// nobody's picture.
constexpr int DefaultFrameOffset = 64;

// A frame of the host's, held once (writable): rows `pitch` bytes apart,
// row 0 `offset` bytes into a 64-byte aligned buffer. The host owns the frame
// and its buffer for good and hands both out again once every reference is
// dropped. With `poison` the whole buffer is filled with 0xCD first, so that
// unwritten bytes show. Raises AvisynthError for an empty frame, a pitch
// shorter than a row, a negative offset or a size beyond 2 GiB.
PVideoFrame MakeFrame(const VideoInfo& vi, int pitch, bool poison = true, int offset = DefaultFrameOffset);
// Smallest pitch for vi's rows at the given alignment, a power of two up to
// 4096 (below 1: FRAME_ALIGN). -1 for another alignment, no width or a pitch
// that does not fit an int.
int AlignedPitch(const VideoInfo& vi, int align);

// What the host's frame store holds: every frame record and buffer it ever
// made, and how many are held now.
struct FrameStoreCounts {
  int frames, framesHeld;
  int buffers, buffersHeld;
};
FrameStoreCounts CountFrameStore();

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

  // Frames from NewVideoFrame get this many bytes of extra pitch, and start
  // this far into their buffers (tests).
  void SetExtraPitch(int bytes) { extraPitch = bytes; }
  void SetFrameOffset(int bytes) { frameOffset = bytes; }
  // Whether frames from NewVideoFrame are filled with 0xCD first (the
  // default, so tests see unwritten bytes); tools that write every byte turn
  // it off and save a pass over memory per frame.
  void SetPoisonNewFrames(bool on) { poisonNewFrames = on; }

  long AVSC_CC GetCPUFlags() override { return 0; }
  char* AVSC_CC SaveString(const char* s, int length = -1) override;
  char* __cdecl Sprintf(const char* fmt, ...) override;
  // val is the va_list itself on Windows and the address of one elsewhere,
  // where va_list may be an array type.
  char* AVSC_CC VSprintf(const char* fmt, void* val) override;
  [[noreturn]] void __cdecl ThrowError(const char* fmt, ...) override;
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
  // A frame of pitch AlignedPitch(vi, align) plus the extra pitch, held once;
  // bad sizes and alignments raise AvisynthError.
  PVideoFrame AVSC_CC NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) override;
  // Replaces a frame that is not writable by a writable copy; false when it
  // already was writable.
  bool AVSC_CC MakeWritable(PVideoFrame* pvf) override;
  void AVSC_CC BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size, int height) override;
  // Runs the functions when the environment ends, the last registered first.
  void AVSC_CC AtExit(ShutdownFunc function, void* user_data) override;
  // Raises AvisynthError when a module needs a later interface than 2.
  void AVSC_CC CheckVersion(int version = AVISYNTH_INTERFACE_VERSION) override;
  // Another window into src's buffer, rel_offset bytes on; raises
  // AvisynthError when the window leaves the buffer.
  PVideoFrame AVSC_CC Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                               int new_height) override;
  // The frame memory limit in MiB, kept for modules that ask; returns it.
  int AVSC_CC SetMemoryMax(int mem) override;
  int AVSC_CC SetWorkingDir(const char* newdir) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  std::vector<Function> functions;
  int extraPitch = 0;
  int frameOffset = DefaultFrameOffset;
  bool poisonNewFrames = true;
  int memoryMax = 0;
};

// A clip whose frames, parities and audio are given by the caller. It keeps
// its frames, as a host's frame cache would, so the frames it hands out are
// shared and not writable. It records every frame number asked of it; numbers past either end are clamped, and a
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
