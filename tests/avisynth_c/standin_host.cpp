// The host side of the C interface as its facts describe it, built as
// avisynth.dll (Windows) or a shared library, in two kinds. STANDIN_PLUS=0 is
// AviSynth 2.60 of May 2012: on Windows exactly its 38 exports (CMakeLists.txt
// points those the module and client never call at StandinUnused), frames
// read through the 2.6 record, a child's error not passed on, a frame request
// that ends with no frame and no error a crash (reported instead). 1 is
// AviSynth+: plane accessors, frame properties, the pending child error. Every
// clip is a filter; frames are padded, start past their buffer's start and
// are filled with 0xCD. StandinFaults counts clips and frames alive, and
// property writes to frames held twice (the host's cached copy would change).
#include "avisynth_c/avs_c.h"
#include "platform/crt.h"
#if defined(_WIN32)
extern "C" __declspec(dllimport) void* __stdcall LoadLibraryA(const char*);
extern "C" __declspec(dllimport) void* __stdcall GetProcAddress(void*, const char*);
extern "C" __declspec(dllimport) void __cdecl abort(void);
#define API extern "C"
#else
#include <dlfcn.h>
#define API extern "C" __attribute__((visibility("default")))
#endif

struct AvsMap {
  char keys[8][24];
  int64_t values[8];
  int count;
};
struct Frame {
  AvsVideoFrame f;  // first: the record the module reads in 2.6
  AvsVideoFrameBuffer vfb;
  AvsVideoInfo vi;
  uint8_t* block;
  AvsMap props;
};
struct Clip {
  AvsFilterInfo fi;
  long refs;
};
struct AvsClip {
  Clip* clip;
  char error[256];
};
struct AvsEnv {
  const char *names[8], *params[8];
  AvsApplyFunc apply[8];
  void* userData[8];
  int count;
  char error[256];
  char* saved;  // avs_save_string's copies, each after a link to the one before
};
namespace {
long liveClips, liveFrames, misuses;
long Add(long* v, long d) { return __atomic_add_fetch(v, d, __ATOMIC_ACQ_REL); }
void Copy(char* to, const char* from, int size) {
  int i = 0;
  for (; from && from[i] && i < size - 1; ++i) to[i] = from[i];
  to[i] = 0;
}
bool Same(const char* a, const char* b, char end = 0) {
  while (*a && (*a | 0x20) == (*b | 0x20)) ++a, ++b;
  return *a == 0 && *b == end;
}
AvsValue Error(AvsEnv* env, const char* m) { return Copy(env->error, m, 256), AvsErrorValue(env->error); }
AvsClip* Handle(Clip* c) {
  AvsClip* h = static_cast<AvsClip*>(malloc(sizeof(AvsClip)));
  *h = AvsClip{c, {0}};
  Add(&c->refs, 1);
  return h;
}
}  // namespace

API AvsVideoFrame* AVSC_CC avs_new_video_frame_a(AvsEnv*, const AvsVideoInfo* vi, int align) {
  align = align > 16 ? align : 16;
  const int type = vi->pixelType, planar = type < 0 ? 1 : 0, subW = planar && !(type & 3),
            subH = planar && !(type & 0x300);
  Frame* fr = static_cast<Frame*>(malloc(sizeof(Frame)));
  memset(fr, 0, sizeof *fr);
  AvsVideoFrame& f = fr->f;  // pitches one alignment step longer than the rows
  f.rowSize = vi->width * (2 - planar), f.height = vi->height, f.offset = align;
  f.pitch = (f.rowSize + align - 1) / align * align + align;
  f.rowSizeUV = planar * vi->width >> subW, f.heightUV = planar * vi->height >> subH;
  f.pitchUV = planar * ((f.rowSizeUV + align - 1) / align * align + align);
  f.offsetV = f.offset + f.pitch * f.height, f.offsetU = f.offsetV + f.pitchUV * f.heightUV;
  fr->vfb.dataSize = f.offsetU + f.pitchUV * f.heightUV + align;
  fr->block = static_cast<uint8_t*>(malloc(fr->vfb.dataSize + 64));
  memset(fr->block, 0xCD, fr->vfb.dataSize + 64);
  fr->vfb.data = fr->block + (64 - reinterpret_cast<uintptr_t>(fr->block) % 64);
  fr->vfb.refcount = 1, f.refcount = 1, f.vfb = &fr->vfb, fr->vi = *vi;
  Add(&liveFrames, 1);
  return &f;
}
API void AVSC_CC avs_release_video_frame(AvsVideoFrame* f) {
  if (f == nullptr || Add(const_cast<long*>(&f->refcount), -1) != 0) return;
  free(reinterpret_cast<Frame*>(f)->block), free(f);
  Add(&liveFrames, -1);
}
API AvsVideoFrame* AVSC_CC avs_copy_video_frame(AvsVideoFrame* f) {
  Add(const_cast<long*>(&f->refcount), 1);
  return f;
}
API int AVSC_CC avs_make_writable(AvsEnv* env, AvsVideoFrame** pf) {
  Frame* old = reinterpret_cast<Frame*>(*pf);
  if (old->f.refcount == 1) return 0;
  Frame* fr = reinterpret_cast<Frame*>(avs_new_video_frame_a(env, &old->vi, old->f.offset));
  memcpy(fr->vfb.data, old->vfb.data, fr->vfb.dataSize), fr->props = old->props;  // same geometry
  avs_release_video_frame(*pf);
  return *pf = &fr->f, 1;
}

API AvsClip* AVSC_CC avs_new_c_filter(AvsEnv* env, AvsFilterInfo** fi, AvsValue child, int store) {
  Clip* c = static_cast<Clip*>(malloc(sizeof(Clip)));
  memset(c, 0, sizeof *c);
  c->fi.env = env, *fi = &c->fi;
  if (child.type == 'c') c->fi.vi = static_cast<Clip*>(child.d.clip)->fi.vi;
  if (child.type == 'c' && store) c->fi.child = Handle(static_cast<Clip*>(child.d.clip));
  Add(&liveClips, 1);
  return Handle(c);
}
void Release(Clip* c) {
  if (Add(&c->refs, -1) != 0) return;
  if (c->fi.freeFilter) c->fi.freeFilter(&c->fi);
  if (c->fi.child) Release(c->fi.child->clip), free(c->fi.child);
  free(c), Add(&liveClips, -1);
}
API void AVSC_CC avs_release_clip(AvsClip* h) { Release(h->clip), free(h); }
API AvsClip* AVSC_CC avs_take_clip(AvsValue v, AvsEnv*) { return Handle(static_cast<Clip*>(v.d.clip)); }
API void AVSC_CC avs_set_to_clip(AvsValue* v, AvsClip* h) { *v = AvsValue{'c', 0, {h->clip}}, Add(&h->clip->refs, 1); }
API void AVSC_CC avs_release_value(AvsValue v) {
  if (v.type == 'c') Release(static_cast<Clip*>(v.d.clip));
}
API const AvsVideoInfo* AVSC_CC avs_get_video_info(AvsClip* h) { return &h->clip->fi.vi; }
API const char* AVSC_CC avs_clip_get_error(AvsClip* h) { return h->error[0] ? h->error : nullptr; }
API int AVSC_CC avs_set_cache_hints(AvsClip* h, int hints, int range) {
  return h->clip->fi.setCacheHints ? h->clip->fi.setCacheHints(&h->clip->fi, hints, range) : 0;
}

// A frame request: the error slot cleared, the callback (or the child's
// frame where there is none), then the error raised.
API AvsVideoFrame* AVSC_CC avs_get_frame(AvsClip* h, int n) {
  AvsFilterInfo& fi = h->clip->fi;
  fi.error = nullptr, h->error[0] = 0;
  AvsVideoFrame* f = fi.getFrame ? fi.getFrame(&fi, n) : fi.child ? avs_get_frame(fi.child, n) : nullptr;
  const char* error = fi.getFrame ? fi.error : fi.child ? fi.child->error : "no frames";
  if (STANDIN_PLUS && !error && fi.child && fi.child->error[0]) error = fi.child->error;
  if (!error && !f) error = "standin: a frame request gave no frame and no error (a crash in 2.6)";
  if (!error || !*error) return f;
  Copy(h->error, error, sizeof h->error);
  return avs_release_video_frame(f), nullptr;
}

API int AVSC_CC avs_add_function(AvsEnv* env, const char* name, const char* params, AvsApplyFunc apply, void* ud) {
  if (env->count == 8) return Error(env, "standin: too many functions"), -1;
  env->names[env->count] = name, env->params[env->count] = params, env->apply[env->count] = apply;
  env->userData[env->count++] = ud;
  return 0;
}

// Loads a C plugin and runs the entry point this host finds first.
AvsValue LoadCPlugin(AvsEnv* env, const char* path) {
#if defined(_WIN32)
  void* module = LoadLibraryA(path);
  auto find = [&](const char* name) { return module && *name ? GetProcAddress(module, name) : nullptr; };
#else
  void* module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
  auto find = [&](const char* name) { return module ? dlsym(module, name) : nullptr; };
#endif
#if defined(_WIN32) && !defined(_WIN64)
  const char* names[] = {STANDIN_PLUS ? "_avisynth_c_plugin_init@4" : "", "avisynth_c_plugin_init@4",
                         "avisynth_c_plugin_init"};
#else
  const char* names[] = {"avisynth_c_plugin_init", "_avisynth_c_plugin_init@4"};
#endif
  for (const char* name : names) {
    typedef const char*(AVSC_CC * Init)(AvsEnv*);
    if (Init init = reinterpret_cast<Init>(find(name))) {
      AvsValue v{STANDIN_PLUS ? 'b' : 's', 0, {const_cast<char*>(init(env))}};  // AviSynth+ answers true
      return v.d.string ? (STANDIN_PLUS ? v.d.boolean = 1 : 0, v) : Error(env, "standin: the entry point failed");
    }
  }
  return Error(env, "Unable to load C Plugin");
}

// Positional arguments fill the unnamed parameters in order, named ones
// theirs; each of the parameter's type, or the call is refused.
API AvsValue AVSC_CC avs_invoke(AvsEnv* env, const char* name, AvsValue args, const char** argNames) {
  const int given = args.type == 'a' ? args.arraySize : 1;
  const AvsValue* list = args.type == 'a' ? args.d.array : &args;
  if (Same(name, "LoadCPlugin") && given == 1 && list[0].type == 's') return LoadCPlugin(env, list[0].d.string);
  AvsValue bound[16];
  if (Same(name, "BlankClip")) {
    AvsFilterInfo* fi;
    AvsClip* h = avs_new_c_filter(env, &fi, AvsValue{'v', 0, {nullptr}}, 0);
    return avs_set_to_clip(&bound[0], h), avs_release_clip(h), bound[0];
  }
  for (int f = 0; f < env->count; ++f) {
    if (!Same(env->names[f], name)) continue;
    const char *names[16], *types[16];
    int count = 0, next = 0;
    for (const char* p = env->params[f]; *p && count < 16; ++count, ++p) {
      names[count] = *p == '[' ? p + 1 : nullptr;
      while (names[count] && *p++ != ']') {
      }
      types[count] = p, bound[count] = AvsValue{'v', 0, {nullptr}};
    }
    for (int i = 0; i < given; ++i) {
      const char* wanted = argNames ? argNames[i] : nullptr;
      int at = 0;
      while (at < count && (wanted ? !names[at] || !Same(wanted, names[at], ']') : names[at] || at < next)) ++at;
      if (at == count || list[i].type != *types[at]) return Error(env, "Invalid arguments to function");
      bound[at] = list[i], next = wanted ? next : at + 1;
    }
    return env->apply[f](env, AvsValue{'a', static_cast<short>(count), {bound}}, env->userData[f]);
  }
  return Error(env, "There is no function named that");
}

API AvsEnv* AVSC_CC avs_create_script_environment(int) {
  AvsEnv* env = static_cast<AvsEnv*>(malloc(sizeof(AvsEnv)));
  return memset(env, 0, sizeof *env), env;
}
API void AVSC_CC avs_delete_script_environment(AvsEnv* env) {
  for (char* s = env->saved; s != nullptr;) {
    char* before = *reinterpret_cast<char**>(s);
    free(s), s = before;
  }
  free(env);
}
API const char* AVSC_CC avs_save_string(AvsEnv* env, const char* s, int length) {
  char* block = static_cast<char*>(malloc(sizeof(char*) + length + 1));
  *reinterpret_cast<char**>(block) = env->saved, env->saved = block;
  memcpy(block + sizeof(char*), s, length), block[sizeof(char*) + length] = 0;
  return block + sizeof(char*);
}
API int StandinFaults() { return static_cast<int>(liveClips + liveFrames + misuses); }
API void StandinUnused() { abort(); }

#if STANDIN_PLUS
API int AVSC_CC avs_get_pitch_p(const AvsVideoFrame* f, int plane) { return AvsPitch(AvsApi{}, f, plane); }
API const uint8_t* AVSC_CC avs_get_read_ptr_p(const AvsVideoFrame* f, int plane) {
  return AvsReadPtr(AvsApi{}, f, plane);
}
API uint8_t* AVSC_CC avs_get_write_ptr_p(const AvsVideoFrame* f, int plane) {
  return AvsWritePtr(AvsApi{}, const_cast<AvsVideoFrame*>(f), plane);
}
API AvsMap* AVSC_CC avs_get_frame_props_rw(AvsEnv*, AvsVideoFrame* f) {
  return Add(&misuses, f->refcount != 1), &reinterpret_cast<Frame*>(f)->props;
}
API const AvsMap* AVSC_CC avs_get_frame_props_ro(AvsEnv*, const AvsVideoFrame* f) {
  return &reinterpret_cast<const Frame*>(f)->props;
}
API int64_t AVSC_CC avs_prop_get_int(AvsEnv*, const AvsMap* map, const char* key, int, int* error) {
  for (int i = 0; i < map->count; ++i) {
    if (Same(map->keys[i], key)) return *error = 0, map->values[i];
  }
  return *error = 1, 0;
}
API int AVSC_CC avs_prop_set_int(AvsEnv*, AvsMap* map, const char* key, int64_t value, int) {
  int i = 0;
  while (i < map->count && !Same(map->keys[i], key)) ++i;
  if (i == 8) return 1;
  map->count += i == map->count;
  Copy(map->keys[i], key, 24), map->values[i] = value;
  return 0;
}
API AvsVideoFrame* AVSC_CC avs_new_video_frame_p(AvsEnv* env, const AvsVideoInfo* vi, const AvsVideoFrame* src) {
  AvsVideoFrame* f = avs_new_video_frame_a(env, vi, 16);
  reinterpret_cast<Frame*>(f)->props = reinterpret_cast<const Frame*>(src)->props;
  return f;
}
#endif
