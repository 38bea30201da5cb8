// The stand-in host's script environment: module loading, the function table,
// argument packing for Invoke, saved strings, variables and frames.
#include "host/runtime.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace host {

namespace {

typedef const char*(AVSC_CC* PluginEntry)(IScriptEnvironment*);

constexpr std::size_t FrameBufferAlign = 64;
constexpr unsigned char FramePoison = 0xCD;  // unwritten pixels stand out
constexpr int MaxAlign = 4096;
constexpr int MaxParams = 1024;
// No video frame comes near this; a larger request is a bad size, not a frame.
constexpr int64_t MaxFrameBytes = int64_t{1} << 31;

// Every frame record and buffer the host makes lives here for good, as in a
// real host: modules only raise and lower their counts, and a record or
// buffer whose count has fallen to 0 is handed out again. Frames of
// megabytes come and go with every output frame; reusing their memory spares
// the kernel faulting in and zeroing fresh pages each time. Idle buffers
// beyond MaxIdleBuffers go back to the heap, the oldest first.
constexpr int MaxIdleBuffers = 16;

struct FrameStore {
  std::mutex lock;
  std::vector<VideoFrame*> frames;
  std::vector<VideoFrameBuffer*> buffers;  // oldest first
};

// Never destroyed: frames may be dropped by other objects' static destructors.
FrameStore& Store() {
  static FrameStore* store = new FrameStore;
  return *store;
}

bool Idle(const VideoFrame* frame) { return avs_detail::Load(&frame->refcount) == 0; }
bool Idle(const VideoFrameBuffer* buffer) { return avs_detail::Load(&buffer->refcount) == 0; }

void FreeBuffer(VideoFrameBuffer* buffer) {
  ::operator delete(buffer->data, std::align_val_t(FrameBufferAlign));
  delete buffer;
}

// A buffer of exactly `bytes`, taken for a new frame (count 1). Null when
// memory runs out. Called with the store locked.
VideoFrameBuffer* TakeBuffer(FrameStore& store, int bytes) {
  VideoFrameBuffer* found = nullptr;
  int idle = 0;
  for (VideoFrameBuffer* buffer : store.buffers) {
    if (!Idle(buffer)) continue;
    ++idle;
    if (found == nullptr && buffer->data_size == bytes) found = buffer;
  }
  if (found == nullptr && idle >= MaxIdleBuffers) {
    for (auto it = store.buffers.begin(); it != store.buffers.end(); ++it) {
      if (Idle(*it)) {
        FreeBuffer(*it);
        store.buffers.erase(it);
        break;
      }
    }
  }
  if (found == nullptr) {
    void* data = ::operator new(static_cast<std::size_t>(bytes), std::align_val_t(FrameBufferAlign), std::nothrow);
    if (data == nullptr) return nullptr;
    found = new (std::nothrow) VideoFrameBuffer{static_cast<BYTE*>(data), bytes, 0, 0};
    if (found == nullptr) {
      ::operator delete(data, std::align_val_t(FrameBufferAlign));
      return nullptr;
    }
    store.buffers.push_back(found);
  }
  avs_detail::Increment(&found->refcount);
  return found;
}

// A frame record looking into `buffer`, not yet held; with a chroma pitch,
// its V and U planes (half the rows each) follow the luma plane in that
// order, as YV12's do. Null when memory runs out. Called with the store
// locked.
VideoFrame* TakeFrame(FrameStore& store, VideoFrameBuffer* buffer, int offset, int pitch, int rowSize, int height,
                      int pitchUV = 0) {
  VideoFrame* found = nullptr;
  for (VideoFrame* frame : store.frames) {
    if (Idle(frame)) {
      found = frame;
      break;
    }
  }
  if (found == nullptr) {
    found = new (std::nothrow) VideoFrame{};
    if (found == nullptr) return nullptr;
    store.frames.push_back(found);
  }
  const int offsetV = pitchUV ? offset + pitch * height : 0, offsetU = pitchUV ? offsetV + pitchUV * (height / 2) : 0;
  *found = VideoFrame{0, buffer, offset, pitch, rowSize, height, offsetU, offsetV, pitchUV};
  return found;
}

// A new frame over a new buffer; the caller checked the sizes.
PVideoFrame NewFrame(int bytes, int offset, int pitch, int rowSize, int height, int pitchUV, bool poison) {
  FrameStore& store = Store();
  PVideoFrame taken;
  {
    std::lock_guard<std::mutex> hold(store.lock);
    VideoFrameBuffer* buffer = TakeBuffer(store, bytes);
    if (buffer == nullptr) throw AvisynthError("cannot make a frame: out of memory");
    VideoFrame* frame = TakeFrame(store, buffer, offset, pitch, rowSize, height, pitchUV);
    if (frame == nullptr) {
      avs_detail::Decrement(&buffer->refcount);
      throw AvisynthError("cannot make a frame: out of memory");
    }
    taken = frame;
  }
  // Held now, so no other taker sees the buffer: filled outside the lock.
  if (poison) std::memset(taken->vfb->data, FramePoison, static_cast<std::size_t>(bytes));
  return taken;
}

// One parameter of a signature such as "c[zemFile]s".
struct Param {
  char type;         // c i f b s or . (any)
  std::string name;  // empty for positional-only parameters
  bool optional;
};

std::string Lower(const char* s) {
  std::string out(s ? s : "");
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool SameName(const std::string& a, const char* b) { return Lower(a.c_str()) == Lower(b); }

bool IsTypeChar(char c) { return c == 'c' || c == 'i' || c == 'f' || c == 'b' || c == 's' || c == '.'; }

// Parses a signature; on failure returns false with the reason in `error`.
bool ParseSignature(const char* text, std::vector<Param>& params, std::string& error) {
  params.clear();
  for (const char* p = text; *p;) {
    Param param{0, std::string(), false};
    if (*p == '[') {
      const char* close = std::strchr(p + 1, ']');
      if (close == nullptr) {
        error = "unclosed '['";
        return false;
      }
      if (close == p + 1) {
        error = "empty parameter name";
        return false;
      }
      param.name.assign(p + 1, close);
      param.optional = true;
      p = close + 1;
    }
    if (!IsTypeChar(*p)) {
      error = *p ? std::string("unknown type '") + *p + "'" : std::string("a name without a type at the end");
      return false;
    }
    param.type = *p++;
    for (const Param& other : params) {
      if (!param.name.empty() && SameName(other.name, param.name.c_str())) {
        error = "parameter \"" + param.name + "\" named twice";
        return false;
      }
    }
    params.push_back(param);
    if (params.size() > static_cast<std::size_t>(MaxParams)) {
      error = "too many parameters";
      return false;
    }
  }
  return true;
}

const char* TypeName(char type) {
  switch (type) {
    case 'c': return "a clip";
    case 'i': return "an int";
    case 'f': return "a float";
    case 'b': return "a bool";
    case 's': return "a string";
    case 'a': return "an array";
    case '.': return "any value";
    default: return "nothing";
  }
}

char ValueType(const AVSValue& v) {
  if (v.IsClip()) return 'c';
  if (v.IsBool()) return 'b';
  if (v.IsInt()) return 'i';
  if (v.IsFloat()) return 'f';
  if (v.IsString()) return 's';
  if (v.IsArray()) return 'a';
  return 'v';
}

std::string VFormat(const char* fmt, va_list ap) {
  if (fmt == nullptr) return std::string();
  va_list measure;
  va_copy(measure, ap);
  int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (length < 0) return std::string(fmt);  // a broken format: keep its text
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), fmt, ap);
  out.resize(static_cast<std::size_t>(length));
  return out;
}

}  // namespace

struct ScriptEnvironment::Impl {
  std::mutex mutex;  // guards strings and variables: modules may call from any thread
  std::vector<std::unique_ptr<char[]>> strings;
  std::map<std::string, AVSValue> vars;     // keyed by lower-case name
  std::map<std::string, AVSValue> globals;  // keyed by lower-case name
  std::vector<void*> modules;               // in load order
  std::vector<std::pair<ShutdownFunc, void*>> atExit;
};

int AlignedPitch(const VideoInfo& vi, int align) {
  if (align < 1) align = FRAME_ALIGN;
  if (align > MaxAlign || (align & (align - 1)) != 0) return -1;
  if (vi.width <= 0) return -1;
  int64_t rowSize = static_cast<int64_t>(vi.width) * vi.BytesPerPixel();
  int64_t pitch = (rowSize + align - 1) / align * align;
  return pitch > INT_MAX ? -1 : static_cast<int>(pitch);
}

PVideoFrame MakeFrame(const VideoInfo& vi, int pitch, bool poison, int offset) {
  if (vi.width <= 0 || vi.height <= 0) throw AvisynthError("cannot make a frame: it has no pixels");
  int64_t rowSize = static_cast<int64_t>(vi.width) * vi.BytesPerPixel();
  if (rowSize > INT_MAX) throw AvisynthError("cannot make a frame: it is too wide");
  if (pitch < rowSize) throw AvisynthError("cannot make a frame: the pitch is smaller than a row");
  if (offset < 0) throw AvisynthError("cannot make a frame: negative offset");
  // Planar frames: two chroma planes of half the luma's pitch and rows after it.
  const int pitchUV = vi.pixel_type == CS_YV12 ? pitch / 2 : 0;
  int64_t bytes =
      offset + static_cast<int64_t>(pitch) * vi.height + 2 * static_cast<int64_t>(pitchUV) * (vi.height / 2);
  if (bytes > MaxFrameBytes - 1) throw AvisynthError("cannot make a frame: it is too large");
  return NewFrame(static_cast<int>(bytes), offset, pitch, static_cast<int>(rowSize), vi.height, pitchUV, poison);
}

FrameStoreCounts CountFrameStore() {
  FrameStore& store = Store();
  std::lock_guard<std::mutex> hold(store.lock);
  FrameStoreCounts counts{static_cast<int>(store.frames.size()), 0, static_cast<int>(store.buffers.size()), 0};
  for (const VideoFrame* frame : store.frames) counts.framesHeld += Idle(frame) ? 0 : 1;
  for (const VideoFrameBuffer* buffer : store.buffers) counts.buffersHeld += Idle(buffer) ? 0 : 1;
  return counts;
}

ScriptEnvironment::ScriptEnvironment() : impl(new Impl) {}

ScriptEnvironment::~ScriptEnvironment() {
  // Values may hold clips made by the modules: drop them while their code is
  // still loaded, then unload the modules, the last loaded first.
  {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->vars.clear();
    impl->globals.clear();
  }
  functions.clear();
  for (auto it = impl->atExit.rbegin(); it != impl->atExit.rend(); ++it) it->first(it->second, this);
  for (auto it = impl->modules.rbegin(); it != impl->modules.rend(); ++it) dlclose(*it);
}

std::string ScriptEnvironment::LoadPlugin(const std::string& path) {
  if (path.empty()) ThrowError("LoadPlugin: no module path given");
  // A bare file name would make dlopen search the system's library paths;
  // a module is always taken from the path as given.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    ThrowError("LoadPlugin: cannot load \"%s\": %s", path.c_str(), reason ? reason : "unknown error");
  }
  void* found = dlsym(handle, "AvisynthPluginInit2");
  if (found == nullptr) {
    dlclose(handle);
    ThrowError("LoadPlugin: \"%s\" has no AvisynthPluginInit2 entry", path.c_str());
  }
  PluginEntry entry = reinterpret_cast<PluginEntry>(found);
  // Kept before the entry runs: whatever it registers points into the module,
  // even when it fails half-way.
  impl->modules.push_back(handle);
  const char* text = entry(this);
  return text ? std::string(text) : std::string();
}

char* ScriptEnvironment::SaveString(const char* s, int length) {
  if (s == nullptr) s = "";
  std::size_t n = length < 0 ? std::strlen(s) : static_cast<std::size_t>(length);
  std::unique_ptr<char[]> copy(new char[n + 1]);
  std::memcpy(copy.get(), s, n);
  copy[n] = '\0';
  std::lock_guard<std::mutex> lock(impl->mutex);
  impl->strings.push_back(std::move(copy));
  return impl->strings.back().get();
}

char* ScriptEnvironment::Sprintf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = VFormat(fmt, ap);
  va_end(ap);
  return SaveString(text.c_str(), static_cast<int>(text.size()));
}

char* ScriptEnvironment::VSprintf(const char* fmt, void* val) {
  // va_list may be an array type here: val is the address of the caller's
  // va_list. (On 32-bit Windows it is the va_list itself, a plain pointer.)
  va_list ap;
  va_copy(ap, *static_cast<va_list*>(val));
  std::string text = VFormat(fmt, ap);
  va_end(ap);
  return SaveString(text.c_str(), static_cast<int>(text.size()));
}

void ScriptEnvironment::ThrowError(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = VFormat(fmt, ap);
  va_end(ap);
  throw AvisynthError(SaveString(text.c_str(), static_cast<int>(text.size())));
}

void ScriptEnvironment::AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) {
  if (name == nullptr || *name == '\0') ThrowError("AddFunction: a function needs a name");
  if (params == nullptr) params = "";
  if (apply == nullptr) ThrowError("AddFunction: \"%s\" has no creation function", name);
  std::vector<Param> parsed;
  std::string error;
  if (!ParseSignature(params, parsed, error)) {
    ThrowError("AddFunction: \"%s\" has a bad parameter signature \"%s\": %s", name, params, error.c_str());
  }
  functions.push_back(Function{name, params, apply, user_data});
}

bool ScriptEnvironment::FunctionExists(const char* name) {
  if (name == nullptr) return false;
  for (const Function& f : functions) {
    if (SameName(f.name, name)) return true;
  }
  return false;
}

AVSValue ScriptEnvironment::Invoke(const char* name, const AVSValue args, const char** argNames) {
  if (name == nullptr) ThrowError("Invoke: no function name given");
  const Function* found = nullptr;
  for (auto it = functions.rbegin(); it != functions.rend(); ++it) {  // the latest registration wins
    if (SameName(it->name, name)) {
      found = &*it;
      break;
    }
  }
  if (found == nullptr) ThrowError("Invoke: there is no function named \"%s\"", name);
  // A copy: the function may register others and move the table.
  const Function function = *found;
  const char* fname = function.name.c_str();

  std::vector<Param> params;
  std::string error;
  ParseSignature(function.params.c_str(), params, error);  // checked when registered
  const int paramCount = static_cast<int>(params.size());

  // Names a parameter in messages: by name when it has one, else by position.
  auto describe = [&](int index) {
    return params[index].name.empty() ? std::to_string(index + 1) : "\"" + params[index].name + "\"";
  };

  std::vector<AVSValue> slots(static_cast<std::size_t>(paramCount));
  std::vector<bool> given(static_cast<std::size_t>(paramCount), false);
  const int argCount = args.IsArray() ? args.ArraySize() : (args.Defined() ? 1 : 0);
  int next = 0;  // the parameter the next positional argument fills
  for (int k = 0; k < argCount; ++k) {
    const AVSValue& value = args[k];
    const char* argName = argNames ? argNames[k] : nullptr;
    int index = -1;
    if (argName != nullptr) {
      for (int i = 0; i < paramCount; ++i) {
        if (params[i].optional && SameName(params[i].name, argName)) index = i;
      }
      if (index < 0) ThrowError("%s: there is no parameter named \"%s\"", fname, argName);
    } else {
      if (next >= paramCount) {
        ThrowError("%s: too many arguments: it takes at most %d (signature \"%s\")", fname, paramCount,
                   function.params.c_str());
      }
      index = next++;
    }
    if (given[index]) ThrowError("%s: argument %s is given twice", fname, describe(index).c_str());
    if (!value.Defined()) continue;  // a void value leaves the parameter unset
    const char want = params[index].type;
    const char got = ValueType(value);
    if (want == '.') {
      slots[index] = value;
    } else if (want == 'f' && got == 'i') {
      slots[index] = AVSValue(static_cast<float>(value.AsInt()));
    } else if (want != got) {
      ThrowError("%s: argument %s must be %s, not %s", fname, describe(index).c_str(), TypeName(want), TypeName(got));
    } else if (want == 'c' && !value.AsClip()) {
      ThrowError("%s: argument %s is a clip value that holds no clip", fname, describe(index).c_str());
    } else {
      slots[index] = value;
    }
    given[index] = true;
  }
  for (int i = 0; i < paramCount; ++i) {
    if (!params[i].optional && !given[i]) {
      ThrowError("%s: argument %s (%s) is required but missing", fname, describe(i).c_str(), TypeName(params[i].type));
    }
  }
  // `slots` outlives the call: the array value only points at it.
  return function.apply(AVSValue(slots.data(), paramCount), function.userData, this);
}

AVSValue ScriptEnvironment::GetVar(const char* name) {
  std::string key = Lower(name);
  std::lock_guard<std::mutex> lock(impl->mutex);
  auto it = impl->vars.find(key);
  if (it != impl->vars.end()) return it->second;
  it = impl->globals.find(key);
  if (it != impl->globals.end()) return it->second;
  return AVSValue();
}

namespace {

// Stores a value under a name; a string is copied into host-kept text so the
// variable outlives the caller's buffer. True when the name was new.
bool Store(std::map<std::string, AVSValue>& map, const std::string& key, const AVSValue& value, char* savedText) {
  AVSValue stored = savedText ? AVSValue(static_cast<const char*>(savedText)) : value;
  auto result = map.insert({key, stored});
  if (!result.second) result.first->second = stored;
  return result.second;
}

}  // namespace

bool ScriptEnvironment::SetVar(const char* name, const AVSValue& val) {
  if (name == nullptr || *name == '\0') ThrowError("SetVar: a variable needs a name");
  // An array only points at elements it does not own; kept in a variable it would dangle.
  if (val.IsArray()) ThrowError("SetVar: \"%s\" cannot hold an array", name);
  char* text = val.IsString() ? SaveString(val.AsString()) : nullptr;
  std::lock_guard<std::mutex> lock(impl->mutex);
  return Store(impl->vars, Lower(name), val, text);
}

bool ScriptEnvironment::SetGlobalVar(const char* name, const AVSValue& val) {
  if (name == nullptr || *name == '\0') ThrowError("SetGlobalVar: a variable needs a name");
  if (val.IsArray()) ThrowError("SetGlobalVar: \"%s\" cannot hold an array", name);
  char* text = val.IsString() ? SaveString(val.AsString()) : nullptr;
  std::lock_guard<std::mutex> lock(impl->mutex);
  return Store(impl->globals, Lower(name), val, text);
}

PVideoFrame ScriptEnvironment::NewVideoFrame(const VideoInfo& vi, int align) {
  if (vi.width <= 0 || vi.height <= 0) {
    ThrowError("NewVideoFrame: cannot make a frame of %d x %d pixels", vi.width, vi.height);
  }
  int pitch = AlignedPitch(vi, align);
  if (pitch < 0) {
    if (align > MaxAlign || (align > 0 && (align & (align - 1)) != 0)) {
      ThrowError("NewVideoFrame: alignment %d is not a power of two up to %d", align, MaxAlign);
    }
    ThrowError("NewVideoFrame: a frame %d pixels wide is too wide", vi.width);
  }
  if (extraPitch < 0) ThrowError("NewVideoFrame: negative extra pitch %d", extraPitch);
  int64_t total = static_cast<int64_t>(pitch) + extraPitch;
  if (total > INT_MAX) ThrowError("NewVideoFrame: a frame %d pixels wide is too wide", vi.width);
  PVideoFrame frame;
  try {
    frame = MakeFrame(vi, static_cast<int>(total), poisonNewFrames, frameOffset);
  } catch (const AvisynthError& e) {
    ThrowError("NewVideoFrame: %s", e.msg);
  }
  return frame;
}

bool ScriptEnvironment::MakeWritable(PVideoFrame* pvf) {
  if (pvf == nullptr || !*pvf) ThrowError("MakeWritable: no frame given");
  const VideoFrame& old = *pvf->get();
  if (old.IsWritable()) return false;
  const int pitch = (old.row_size + FRAME_ALIGN - 1) / FRAME_ALIGN * FRAME_ALIGN, pitchUV = old.pitchUV ? pitch / 2 : 0;
  PVideoFrame copy;
  try {
    copy = NewFrame(frameOffset + pitch * old.height + 2 * pitchUV * (old.height / 2), frameOffset, pitch, old.row_size,
                    old.height, pitchUV, false);
  } catch (const AvisynthError& e) {
    ThrowError("MakeWritable: %s", e.msg);
  }
  BitBlt(copy->GetWritePtr(), pitch, old.GetReadPtr(), old.pitch, old.row_size, old.height);
  for (int plane = 0; pitchUV && plane < 2; ++plane) {  // V, U: half the rows, half the row
    BitBlt(copy->vfb->data + (plane ? copy->offsetU : copy->offsetV), pitchUV,
           old.vfb->data + (plane ? old.offsetU : old.offsetV), old.pitchUV, old.row_size / 2, old.height / 2);
  }
  *pvf = copy;
  return true;
}

void ScriptEnvironment::BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size, int height) {
  if (dstp == nullptr || srcp == nullptr || row_size <= 0) return;
  for (int y = 0; y < height; ++y) {
    std::memcpy(dstp + static_cast<ptrdiff_t>(y) * dst_pitch, srcp + static_cast<ptrdiff_t>(y) * src_pitch,
                static_cast<size_t>(row_size));
  }
}

void ScriptEnvironment::AtExit(ShutdownFunc function, void* user_data) {
  if (function == nullptr) ThrowError("AtExit: no function given");
  impl->atExit.emplace_back(function, user_data);
}

void ScriptEnvironment::CheckVersion(int version) {
  if (version > AVISYNTH_INTERFACE_VERSION) {
    ThrowError("CheckVersion: interface version %d is asked for; this host offers %d", version,
               AVISYNTH_INTERFACE_VERSION);
  }
}

PVideoFrame ScriptEnvironment::Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                        int new_height) {
  if (!src) ThrowError("Subframe: no frame given");
  VideoFrameBuffer* buffer = src->vfb;
  const int64_t start = static_cast<int64_t>(src->offset) + rel_offset;
  const int64_t last = start + static_cast<int64_t>(new_pitch) * (new_height - 1) + new_row_size;
  if (new_row_size <= 0 || new_height <= 0 || new_pitch < new_row_size || start < 0 || last > buffer->data_size) {
    ThrowError("Subframe: the window (offset %d, pitch %d, row size %d, height %d) leaves the frame's buffer",
               rel_offset, new_pitch, new_row_size, new_height);
  }
  FrameStore& store = Store();
  std::lock_guard<std::mutex> hold(store.lock);
  VideoFrame* frame = TakeFrame(store, buffer, static_cast<int>(start), new_pitch, new_row_size, new_height);
  if (frame == nullptr) throw AvisynthError("Subframe: out of memory");
  // The new frame looks into the same buffer: one more held frame there.
  avs_detail::Increment(&buffer->refcount);
  return PVideoFrame(frame);
}

int ScriptEnvironment::SetMemoryMax(int mem) {
  if (mem > 0) memoryMax = mem;
  return memoryMax;
}

int ScriptEnvironment::SetWorkingDir(const char* newdir) { return newdir != nullptr && chdir(newdir) == 0 ? 0 : -1; }

}  // namespace host
