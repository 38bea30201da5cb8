// The frame server's plugin interface, version 2: the types a plugin module
// and its host exchange. Both sides compile this one header.
//
// Objects that cross the module boundary (clips, frames) are deleted through
// virtual destructors, so memory is always freed by the module that made it.
#ifndef ZEMIVTC_HOST_AVISYNTH_H
#define ZEMIVTC_HOST_AVISYNTH_H

#include <atomic>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define AVSC_CC __stdcall
#else
#define AVSC_CC
#endif

// Destructors: GCC does not let a derived class's implicit destructor inherit
// __stdcall from the base (it reports conflicting attributes), and its vtables
// hold two destructor entries where MSVC's hold one, so the convention buys no
// compatibility there. Only MSVC declares them __stdcall.
#if defined(_WIN32) && !defined(_WIN64) && defined(_MSC_VER)
#define AVSC_DTOR_CC __stdcall
#else
#define AVSC_DTOR_CC
#endif

#if defined(_WIN32)
#define AVS_EXPORT extern "C" __declspec(dllexport)
#else
#define AVS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

enum { AVISYNTH_INTERFACE_VERSION = 2 };

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
class VideoFrame;
class AVSValue;

struct VideoInfo {
  int width, height;  // pixels
  unsigned fps_numerator, fps_denominator;
  int num_frames;
  int pixel_type;
  int audio_samples_per_second;
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

// The exception ThrowError raises; the message lives as long as the host.
class AvisynthError {
 public:
  const char* const msg;
  explicit AvisynthError(const char* m) : msg(m) {}
};

// One frame's pixels, owned by the host. Rows are `pitch` bytes apart.
class VideoFrame {
  std::atomic<int> refcnt{0};
  friend class PVideoFrame;

 protected:
  unsigned char* data;
  int pitch, row_size, height;
  VideoFrame(unsigned char* d, int p, int rs, int h) : data(d), pitch(p), row_size(rs), height(h) {}

 public:
  int GetPitch() const { return pitch; }
  int GetRowSize() const { return row_size; }
  int GetHeight() const { return height; }
  const unsigned char* GetReadPtr() const { return data; }
  unsigned char* GetWritePtr() const { return data; }
  bool IsWritable() const { return refcnt.load() == 1; }
  int RefCount() const { return refcnt.load(); }
  virtual ~VideoFrame() {}
};

// Counted frame reference.
class PVideoFrame {
  VideoFrame* p;
  void Acquire(VideoFrame* x) {
    if (x) x->refcnt.fetch_add(1);
    p = x;
  }
  void Drop() {
    if (p && p->refcnt.fetch_sub(1) == 1) delete p;
    p = nullptr;
  }

 public:
  PVideoFrame() : p(nullptr) {}
  PVideoFrame(VideoFrame* x) { Acquire(x); }
  PVideoFrame(const PVideoFrame& o) { Acquire(o.p); }
  PVideoFrame& operator=(const PVideoFrame& o) {
    VideoFrame* old = p;
    Acquire(o.p);
    if (old && old->refcnt.fetch_sub(1) == 1) delete old;
    return *this;
  }
  ~PVideoFrame() { Drop(); }
  VideoFrame* operator->() const { return p; }
  VideoFrame* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A clip: what scripts pass around and filters are. Counted.
class IClip {
  std::atomic<int> refcnt{0};
  friend class PClip;
  friend class AVSValue;

 public:
  IClip() = default;
  IClip(const IClip&) = delete;
  IClip& operator=(const IClip&) = delete;
  int RefCount() const { return refcnt.load(); }

  virtual int AVSC_CC GetVersion() { return AVISYNTH_INTERFACE_VERSION; }
  virtual PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) = 0;
  virtual bool AVSC_CC GetParity(int n) = 0;  // true: top field first
  virtual void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) = 0;
  virtual void AVSC_CC SetCacheHints(int cachehints, int frame_range) = 0;
  virtual const VideoInfo& AVSC_CC GetVideoInfo() = 0;
  virtual AVSC_DTOR_CC ~IClip() {}
};

// Counted clip reference.
class PClip {
  IClip* p;
  void Acquire(IClip* x) {
    if (x) x->refcnt.fetch_add(1);
    p = x;
  }
  static void Unref(IClip* x) {
    if (x && x->refcnt.fetch_sub(1) == 1) delete x;
  }

 public:
  PClip() : p(nullptr) {}
  PClip(IClip* x) { Acquire(x); }
  PClip(const PClip& o) { Acquire(o.p); }
  PClip& operator=(const PClip& o) {
    IClip* old = p;
    Acquire(o.p);
    Unref(old);
    return *this;
  }
  ~PClip() { Unref(p); }
  IClip* operator->() const { return p; }
  IClip* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A script value: void, clip, bool, int, float, string or array. An array
// refers to elements it does not own; a string to text the host keeps.
class AVSValue {
  char type;  // 'v' 'c' 'b' 'i' 'f' 's' 'a'
  short array_size;
  union {
    IClip* clip;
    bool boolean;
    int integer;
    float floating_pt;
    const char* string;
    const AVSValue* array;
  };

  void Assign(const AVSValue& src) {
    if (&src == this) return;  // the union is cleared below: a self-copy would lose its clip
    if (src.type == 'c' && src.clip) src.clip->refcnt.fetch_add(1);
    IClip* old = type == 'c' ? clip : nullptr;
    type = src.type;
    array_size = src.array_size;
    array = nullptr;
    switch (type) {
      case 'c': clip = src.clip; break;
      case 'b': boolean = src.boolean; break;
      case 'i': integer = src.integer; break;
      case 'f': floating_pt = src.floating_pt; break;
      case 's': string = src.string; break;
      case 'a': array = src.array; break;
      default: break;
    }
    if (old && old->refcnt.fetch_sub(1) == 1) delete old;
  }

 public:
  AVSValue() : type('v'), array_size(0), array(nullptr) {}
  AVSValue(IClip* c) : type('c'), array_size(0), clip(c) {
    if (c) c->refcnt.fetch_add(1);
  }
  AVSValue(const PClip& c) : AVSValue(c.get()) {}
  AVSValue(bool b) : type('b'), array_size(0), array(nullptr) { boolean = b; }
  AVSValue(int i) : type('i'), array_size(0), array(nullptr) { integer = i; }
  AVSValue(float f) : type('f'), array_size(0), array(nullptr) { floating_pt = f; }
  AVSValue(double f) : AVSValue(static_cast<float>(f)) {}
  AVSValue(const char* s) : type('s'), array_size(0), string(s) {}
  AVSValue(const AVSValue* a, int size) : type('a'), array_size(static_cast<short>(size)), array(a) {}
  AVSValue(const AVSValue& v) : type('v'), array_size(0), array(nullptr) { Assign(v); }
  AVSValue& operator=(const AVSValue& v) {
    Assign(v);
    return *this;
  }
  ~AVSValue() {
    if (type == 'c' && clip && clip->refcnt.fetch_sub(1) == 1) delete clip;
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

#if !defined(_WIN32) && !defined(__cdecl)
#define __cdecl
#endif

// A script function's creation function, as AddFunction registers it.
typedef AVSValue(__cdecl* ApplyFunc)(AVSValue args, void* user_data, IScriptEnvironment* env);

// What the host offers a module, in the order of the interface's table.
class IScriptEnvironment {
 public:
  virtual AVSC_DTOR_CC ~IScriptEnvironment() {}
  virtual long AVSC_CC GetCPUFlags() = 0;
  virtual char* AVSC_CC SaveString(const char* s, int length = -1) = 0;
  virtual char* Sprintf(const char* fmt, ...) = 0;
  virtual char* VSprintf(const char* fmt, void* val) = 0;
  [[noreturn]] virtual void ThrowError(const char* fmt, ...) = 0;
  virtual void AVSC_CC AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) = 0;
  virtual bool AVSC_CC FunctionExists(const char* name) = 0;
  virtual AVSValue AVSC_CC Invoke(const char* name, const AVSValue args, const char** arg_names = nullptr) = 0;
  virtual AVSValue AVSC_CC GetVar(const char* name) = 0;
  virtual bool AVSC_CC SetVar(const char* name, const AVSValue& val) = 0;
  virtual bool AVSC_CC SetGlobalVar(const char* name, const AVSValue& val) = 0;
  virtual void AVSC_CC PushContext(int level = 0) = 0;
  virtual void AVSC_CC PopContext() = 0;
  virtual PVideoFrame AVSC_CC NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) = 0;
};

// A filter over one child clip; forwards everything it does not override.
class GenericVideoFilter : public IClip {
 protected:
  PClip child;
  VideoInfo vi;

 public:
  explicit GenericVideoFilter(const PClip& c) : child(c) { vi = child->GetVideoInfo(); }
  PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) override { return child->GetFrame(n, env); }
  bool AVSC_CC GetParity(int n) override { return child->GetParity(n); }
  void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) override {
    child->GetAudio(buf, start, count, env);
  }
  void AVSC_CC SetCacheHints(int, int) override {}
  const VideoInfo& AVSC_CC GetVideoInfo() override { return vi; }
};

#endif
