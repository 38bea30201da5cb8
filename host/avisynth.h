// The frame server's plugin interface, version 2: the types a plugin module
// and its host exchange, laid out as the host lays them out.
//
// On 32-bit Windows this header describes the binary interface of hosts built
// with Microsoft's C++ compiler: record offsets, the order of the virtual
// functions, their calling conventions and the reference operations that both
// sides compile inline. Elsewhere (the native command and the tests) the same
// declarations compile with pointer-sized fields grown to 8 bytes.
//
// Ownership: a clip is freed by the module that made it, through its virtual
// destructor. Frames and their buffers belong to the host for good: dropping
// the last reference to a frame only lowers its counts, and the host hands the
// frame out again later.
//
// The header needs no C or C++ library: the Windows module is built without
// one. stddef.h and stdint.h are the compiler's own.
#ifndef ZEMIVTC_HOST_AVISYNTH_H
#define ZEMIVTC_HOST_AVISYNTH_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define AVSC_CC __stdcall
#else
#define AVSC_CC
#endif

#if !defined(_WIN32) && !defined(__cdecl)
#define __cdecl
#endif

#if defined(_WIN32)
#define AVS_EXPORT extern "C" __declspec(dllexport)
#else
#define AVS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

enum { AVISYNTH_INTERFACE_VERSION = 2 };

typedef unsigned char BYTE;

// Pixel types (VideoInfo::pixel_type).
enum : int {
  CS_BGR24 = 0x50000001,
  CS_BGR32 = 0x50000002,
  CS_YUY2 = 0x60000004,
  CS_YV12 = static_cast<int>(0xA0000008u),
};

enum { FRAME_ALIGN = 16 };

class IClip;
class IScriptEnvironment;
class AVSValue;

// The counted-reference arithmetic both sides compile: atomic increment and
// decrement that return the new count, as the Win32 interlocked calls do.
namespace avs_detail {
template <class T>
inline T Increment(T* count) {
  return __atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST);
}
template <class T>
inline T Decrement(T* count) {
  return __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST);
}
template <class T>
inline T Load(const T* count) {
  return __atomic_load_n(count, __ATOMIC_SEQ_CST);
}
}  // namespace avs_detail

struct VideoInfo {
  int width, height;  // pixels; width 0: no video
  unsigned fps_numerator, fps_denominator;
  int num_frames;
  int pixel_type;
  int audio_samples_per_second;  // 0: no audio
  int sample_type;
  int64_t num_audio_samples;
  int nchannels;
  int image_type;

  bool HasVideo() const { return width != 0; }
  bool IsYUY2() const { return pixel_type == CS_YUY2; }
  int BytesPerPixel() const {
    switch (pixel_type) {
      case CS_BGR24: return 3;
      case CS_BGR32: return 4;
      case CS_YUY2: return 2;
      default: return 1;  // planar: the luma plane
    }
  }
  int RowSize() const { return width * BytesPerPixel(); }
};

// The exception ThrowError raises, by value. A class, not a struct: the host
// catches it by its type name, which tells the two apart.
class AvisynthError {
 public:
  const char* const msg;  // lives as long as the host's environment
  AvisynthError(const char* message) : msg(message) {}
};

// A block of pixel memory, owned by the host. `refcount` counts the held
// frames that look into it.
class VideoFrameBuffer {
 public:
  BYTE* data;
  int data_size;
  long sequence_number;  // raised each time a write pointer is taken
  long refcount;
};

// A window into a buffer: row 0 at data + offset, rows `pitch` bytes apart,
// `row_size` bytes of pixels each. No virtual functions; owned by the host.
class VideoFrame {
 public:
  int refcount;  // counted references held
  VideoFrameBuffer* vfb;
  int offset, pitch, row_size, height;
  int offsetU, offsetV, pitchUV;  // planar formats

  int GetPitch() const { return pitch; }
  int GetRowSize() const { return row_size; }
  int GetHeight() const { return height; }
  const BYTE* GetReadPtr() const { return vfb->data + offset; }
  // Held once and the only frame into its buffer: nobody else can see the
  // write. Otherwise null.
  bool IsWritable() const { return avs_detail::Load(&refcount) == 1 && avs_detail::Load(&vfb->refcount) == 1; }
  BYTE* GetWritePtr() const {
    if (!IsWritable()) return nullptr;
    ++vfb->sequence_number;
    return vfb->data + offset;
  }
};

// Counted frame reference. Dropping the last one lowers the buffer's count
// first, then the frame's; nothing is deleted.
class PVideoFrame {
  VideoFrame* p;

  void Init(VideoFrame* x) {
    p = x;
    if (p) avs_detail::Increment(&p->refcount);
  }
  static void Unref(VideoFrame* x) {
    if (avs_detail::Load(&x->refcount) == 1) avs_detail::Decrement(&x->vfb->refcount);
    avs_detail::Decrement(&x->refcount);
  }

 public:
  PVideoFrame() : p(nullptr) {}
  PVideoFrame(VideoFrame* x) { Init(x); }
  PVideoFrame(const PVideoFrame& other) { Init(other.p); }
  PVideoFrame& operator=(VideoFrame* x) {
    VideoFrame* old = p;
    Init(x);
    if (old) Unref(old);
    return *this;
  }
  PVideoFrame& operator=(const PVideoFrame& other) { return *this = other.p; }
  ~PVideoFrame() {
    if (p) Unref(p);
  }

  VideoFrame* operator->() const { return p; }
  VideoFrame* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A clip: what scripts pass around and filters are. Counted; freed through
// its deleting destructor by the module that made it.
class IClip {
  friend class PClip;
  friend class AVSValue;
  friend struct AvsLayoutCheck;  // the compile-time layout test
  int refcnt;

  void AddRef() { avs_detail::Increment(&refcnt); }
  void Release() {
    if (avs_detail::Decrement(&refcnt) == 0) delete this;
  }

 public:
  IClip() : refcnt(0) {}
  IClip(const IClip&) = delete;
  IClip& operator=(const IClip&) = delete;
  int RefCount() const { return avs_detail::Load(&refcnt); }

  // In the host's table order; the destructor comes last.
  virtual int AVSC_CC GetVersion() { return AVISYNTH_INTERFACE_VERSION; }
  virtual PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) = 0;
  virtual bool AVSC_CC GetParity(int n) = 0;  // true: top field first
  virtual void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) = 0;
  virtual void AVSC_CC SetCacheHints(int cachehints, int frame_range) = 0;
  virtual const VideoInfo& AVSC_CC GetVideoInfo() = 0;
  virtual ~IClip() {}
};

// Counted clip reference.
class PClip {
  IClip* p;

  void Init(IClip* x) {
    p = x;
    if (p) p->AddRef();
  }

 public:
  PClip() : p(nullptr) {}
  PClip(IClip* x) { Init(x); }
  PClip(const PClip& other) { Init(other.p); }
  PClip& operator=(IClip* x) {
    IClip* old = p;
    Init(x);
    if (old) old->Release();
    return *this;
  }
  PClip& operator=(const PClip& other) { return *this = other.p; }
  ~PClip() {
    if (p) p->Release();
  }

  IClip* operator->() const { return p; }
  IClip* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A script value: void, clip, bool, int, float, string or array. An array
// points at elements it does not own; a string at text the host keeps.
class AVSValue {
  friend struct AvsLayoutCheck;  // the compile-time layout test
  short type;                    // 'v' 'c' 'b' 'i' 'f' 's' 'a'
  short array_size;
  union {
    IClip* clip;
    bool boolean;
    int integer;
    float floating_pt;
    const char* string;
    const AVSValue* array;
    uintptr_t word;  // the whole value, for copying
  };

  void Clear() {
    type = 'v';
    array_size = 0;
    word = 0;
  }
  // Takes a reference on the new clip, drops the old one, then copies the
  // type word and the value word whole.
  void Assign(const AVSValue& src) {
    const short newType = src.type;
    const short newSize = src.array_size;
    const uintptr_t newWord = src.word;
    IClip* newClip = newType == 'c' ? src.clip : nullptr;
    if (newClip) newClip->AddRef();
    if (type == 'c' && clip) clip->Release();
    type = newType;
    array_size = newSize;
    word = newWord;
  }

 public:
  AVSValue() { Clear(); }
  AVSValue(IClip* c) {
    Clear();
    type = 'c';
    clip = c;
    if (c) c->AddRef();
  }
  AVSValue(const PClip& c) : AVSValue(c.get()) {}
  AVSValue(bool b) {
    Clear();
    type = 'b';
    boolean = b;
  }
  AVSValue(int i) {
    Clear();
    type = 'i';
    integer = i;
  }
  AVSValue(float f) {
    Clear();
    type = 'f';
    floating_pt = f;
  }
  AVSValue(double f) : AVSValue(static_cast<float>(f)) {}
  AVSValue(const char* s) {
    Clear();
    type = 's';
    string = s;
  }
  AVSValue(const AVSValue* a, int size) {
    Clear();
    type = 'a';
    array_size = static_cast<short>(size);
    array = a;
  }
  AVSValue(const AVSValue& v) {
    Clear();
    Assign(v);
  }
  AVSValue& operator=(const AVSValue& v) {
    Assign(v);
    return *this;
  }
  ~AVSValue() {
    if (type == 'c' && clip) clip->Release();
  }

  bool Defined() const { return type != 'v'; }
  bool IsClip() const { return type == 'c'; }
  bool IsBool() const { return type == 'b'; }
  bool IsInt() const { return type == 'i'; }
  bool IsFloat() const { return type == 'f' || type == 'i'; }
  bool IsString() const { return type == 's'; }
  bool IsArray() const { return type == 'a'; }

  PClip AsClip() const { return IsClip() ? PClip(clip) : PClip(); }
  bool AsBool() const { return boolean; }
  int AsInt() const { return integer; }
  double AsFloat() const { return type == 'i' ? integer : floating_pt; }
  const char* AsString() const { return IsString() ? string : nullptr; }
  int ArraySize() const { return IsArray() ? array_size : 1; }

  // Element i of an array that has more than i elements; otherwise the value itself.
  const AVSValue& operator[](int index) const {
    return (IsArray() && index >= 0 && index < array_size) ? array[index] : *this;
  }
};

// A script function's creation function, as AddFunction registers it.
typedef AVSValue(__cdecl* ApplyFunc)(AVSValue args, void* user_data, IScriptEnvironment* env);

// What the host offers a module, in the order of the host's table. Sprintf
// and ThrowError take variable arguments and are therefore __cdecl.
class IScriptEnvironment {
 public:
  virtual ~IScriptEnvironment() {}
  virtual long AVSC_CC GetCPUFlags() = 0;
  virtual char* AVSC_CC SaveString(const char* s, int length = -1) = 0;
  virtual char* __cdecl Sprintf(const char* fmt, ...) = 0;
  virtual char* AVSC_CC VSprintf(const char* fmt, void* val) = 0;
  [[noreturn]] virtual void __cdecl ThrowError(const char* fmt, ...) = 0;
  virtual void AVSC_CC AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) = 0;
  virtual bool AVSC_CC FunctionExists(const char* name) = 0;
  virtual AVSValue AVSC_CC Invoke(const char* name, const AVSValue args, const char** arg_names = nullptr) = 0;
  virtual AVSValue AVSC_CC GetVar(const char* name) = 0;
  virtual bool AVSC_CC SetVar(const char* name, const AVSValue& val) = 0;
  virtual bool AVSC_CC SetGlobalVar(const char* name, const AVSValue& val) = 0;
  virtual void AVSC_CC PushContext(int level = 0) = 0;
  virtual void AVSC_CC PopContext() = 0;
  virtual PVideoFrame AVSC_CC NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) = 0;
  virtual bool AVSC_CC MakeWritable(PVideoFrame* pvf) = 0;
  virtual void AVSC_CC BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size, int height) = 0;
  typedef void(__cdecl* ShutdownFunc)(void* user_data, IScriptEnvironment* env);
  virtual void AVSC_CC AtExit(ShutdownFunc function, void* user_data) = 0;
  virtual void AVSC_CC CheckVersion(int version = AVISYNTH_INTERFACE_VERSION) = 0;
  virtual PVideoFrame AVSC_CC Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                       int new_height) = 0;
  virtual int AVSC_CC SetMemoryMax(int mem) = 0;
  virtual int AVSC_CC SetWorkingDir(const char* newdir) = 0;
};

// A filter over one child clip; forwards everything it does not override.
class GenericVideoFilter : public IClip {
 protected:
  PClip child;
  VideoInfo vi;

 public:
  GenericVideoFilter(PClip c) : child(c) { vi = child->GetVideoInfo(); }
  PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) override { return child->GetFrame(n, env); }
  bool AVSC_CC GetParity(int n) override { return child->GetParity(n); }
  void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) override {
    child->GetAudio(buf, start, count, env);
  }
  void AVSC_CC SetCacheHints(int, int) override {}
  const VideoInfo& AVSC_CC GetVideoInfo() override { return vi; }
};

#endif
