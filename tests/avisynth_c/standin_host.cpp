// The host side of the C interface as its facts describe it, as avisynth.dll
// (Windows) or a shared library, in two kinds. STANDIN_PLUS=0: AviSynth 2.60
// of May 2012, on Windows exactly its 38 exports (CMakeLists.txt), frames
// read through the 2.6 record, a child's error not passed on, a request that
// ends with no frame and no error a crash (reported here instead). 1:
// AviSynth+, with plane accessors, frame properties and the child's pending
// error. Frames are padded, start past their buffer's start, hold 0xCD.
// StandinFaults counts clips and frames alive and property writes to frames
// held twice (a host's cached copy would change). One environment at a time.
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
struct AvsClip {  // every clip is a filter; a clip handle is the clip itself
  AvsFilterInfo fi;
  long refs;
  char error[256];
};
namespace {
struct {
  const char *names[8], *params[8];
  AvsApplyFunc apply[8];
  void* data[8];
  int count;
  char error[256];
  char* saved;  // avs_save_string's copies, each after a link to the one before
} env;
long liveClips, liveFrames, misuses;
long Add(long* v, long d) { return __atomic_add_fetch(v, d, __ATOMIC_ACQ_REL); }
bool Same(const char* a, const char* b) {
  while (*a && (*a | 0x20) == (*b | 0x20)) ++a, ++b;
  return *a == *b || (*a == 0 && *b == ']');
}
AvsValue Error(const char* m) {
  for (int i = 0; i < 255 && (env.error[i] = m[i]); ++i) {
  }
  return AvsErrorValue(env.error);
}
}  // namespace

API AvsVideoFrame* AVSC_CC avs_new_video_frame_a(AvsEnv*, const AvsVideoInfo* vi, int align) {
  align = align > 16 ? align : 16;
  const int type = vi->pixelType, planar = type < 0, subW = planar && !(type & 3), subH = planar && !(type & 0x300);
  Frame* fr = static_cast<Frame*>(memset(malloc(sizeof(Frame)), 0, sizeof(Frame)));
  AvsVideoFrame& f = fr->f;  // pitches one alignment step longer than the rows
  f.rowSize = vi->width * (2 - planar), f.height = vi->height, f.offset = align;
  f.pitch = (f.rowSize + align - 1) / align * align + align;
  f.rowSizeUV = planar * vi->width >> subW, f.heightUV = planar * vi->height >> subH;
  f.pitchUV = planar * ((f.rowSizeUV + align - 1) / align * align + align);
  f.offsetV = f.offset + f.pitch * f.height, f.offsetU = f.offsetV + f.pitchUV * f.heightUV;
  fr->vfb.dataSize = f.offsetU + f.pitchUV * f.heightUV + align;
  fr->block = static_cast<uint8_t*>(malloc(fr->vfb.dataSize + 64));
  if (!getenv("ZEMIVTC_STANDIN_NO_FILL")) memset(fr->block, 0xCD, fr->vfb.dataSize + 64);  // bench: as a cache
  fr->vfb.data = fr->block + (64 - reinterpret_cast<uintptr_t>(fr->block) % 64);
  fr->vfb.refcount = f.refcount = 1, f.vfb = &fr->vfb, fr->vi = *vi;
  return Add(&liveFrames, 1), &f;
}
API void AVSC_CC avs_release_video_frame(AvsVideoFrame* f) {
  if (f && Add(const_cast<long*>(&f->refcount), -1) == 0)
    free(reinterpret_cast<Frame*>(f)->block), free(f), Add(&liveFrames, -1);
}
API AvsVideoFrame* AVSC_CC avs_copy_video_frame(AvsVideoFrame* f) { return Add((long*)&f->refcount, 1), f; }
API int AVSC_CC avs_make_writable(AvsEnv* e, AvsVideoFrame** pf) {
  Frame* old = reinterpret_cast<Frame*>(*pf);
  if (old->f.refcount == 1) return 0;
  Frame* fr = reinterpret_cast<Frame*>(avs_new_video_frame_a(e, &old->vi, old->f.offset));
  memcpy(fr->vfb.data, old->vfb.data, fr->vfb.dataSize), fr->props = old->props;  // same geometry
  return avs_release_video_frame(*pf), *pf = &fr->f, 1;
}

API AvsClip* AVSC_CC avs_new_c_filter(AvsEnv* e, AvsFilterInfo** fi, AvsValue child, int store) {
  AvsClip* c = static_cast<AvsClip*>(memset(malloc(sizeof(AvsClip)), 0, sizeof(AvsClip)));
  c->refs = 1, c->fi.env = e, *fi = &c->fi, Add(&liveClips, 1);
  AvsClip* from = child.type == 'c' ? static_cast<AvsClip*>(child.d.clip) : nullptr;
  if (from) c->fi.vi = from->fi.vi;
  if (from && store) c->fi.child = from, Add(&from->refs, 1);
  return c;
}
API void AVSC_CC avs_release_clip(AvsClip* c) {
  if (Add(&c->refs, -1) != 0) return;
  if (c->fi.freeFilter) c->fi.freeFilter(&c->fi);
  if (c->fi.child) avs_release_clip(c->fi.child);
  free(c), Add(&liveClips, -1);
}
API AvsClip* AVSC_CC avs_take_clip(AvsValue v, AvsEnv*) {
  return Add(&static_cast<AvsClip*>(v.d.clip)->refs, 1), (AvsClip*)v.d.clip;
}
API void AVSC_CC avs_set_to_clip(AvsValue* v, AvsClip* c) { *v = AvsValue{'c', 0, {c}}, Add(&c->refs, 1); }
API void AVSC_CC avs_release_value(AvsValue v) {
  if (v.type == 'c') avs_release_clip(static_cast<AvsClip*>(v.d.clip));
}
API const AvsVideoInfo* AVSC_CC avs_get_video_info(AvsClip* c) { return &c->fi.vi; }
API const char* AVSC_CC avs_clip_get_error(AvsClip* c) { return c->error[0] ? c->error : nullptr; }
API int AVSC_CC avs_set_cache_hints(AvsClip* c, int hints, int range) {
  return c->fi.setCacheHints ? c->fi.setCacheHints(&c->fi, hints, range) : 0;
}
// A request: the error slot cleared, the callback (or the child's frame),
// then the error raised.
API AvsVideoFrame* AVSC_CC avs_get_frame(AvsClip* c, int n) {
  AvsFilterInfo& fi = c->fi;
  fi.error = nullptr, c->error[0] = 0;
  AvsVideoFrame* f = fi.getFrame ? fi.getFrame(&fi, n) : fi.child ? avs_get_frame(fi.child, n) : nullptr;
  const char* error = fi.getFrame ? fi.error : fi.child ? avs_clip_get_error(fi.child) : "no frames";
  if (STANDIN_PLUS && !error && fi.child) error = avs_clip_get_error(fi.child);
  if (!error && !f) error = "standin: a frame request gave no frame and no error (a crash in 2.6)";
  if (!error) return f;
  for (int i = 0; i < 255 && (c->error[i] = error[i]); ++i) {
  }
  return avs_release_video_frame(f), nullptr;
}

API int AVSC_CC avs_add_function(AvsEnv*, const char* name, const char* params, AvsApplyFunc apply, void* data) {
  if (env.count == 8) return Error("standin: too many functions"), -1;
  env.names[env.count] = name, env.params[env.count] = params, env.apply[env.count] = apply;
  return env.data[env.count++] = data, 0;
}
// A plugin's entry point by the name this host looks up first.
AvsValue LoadCPlugin(AvsEnv* e, const char* path) {
  typedef const char*(AVSC_CC * Init)(AvsEnv*);
#if defined(_WIN32)
  const bool x86 = sizeof(void*) == 4;
  Init init = (Init)GetProcAddress(
      LoadLibraryA(path),
      x86 ? STANDIN_PLUS ? "_avisynth_c_plugin_init@4" : "avisynth_c_plugin_init@4" : "avisynth_c_plugin_init");
#else
  void* module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
  Init init = module ? (Init)dlsym(module, "avisynth_c_plugin_init") : nullptr;
#endif
  const char* text = init ? init(e) : nullptr;
  AvsValue v{STANDIN_PLUS ? 'b' : 's', 0, {const_cast<char*>(text)}};  // AviSynth+ answers true
  return text ? (STANDIN_PLUS ? v.d.boolean = 1 : 0, v) : Error("Unable to load C Plugin");
}
// Positional arguments fill the parameters in order, named ones theirs; each
// of its parameter's type, or the call is refused.
API AvsValue AVSC_CC avs_invoke(AvsEnv* e, const char* name, AvsValue args, const char** argNames) {
  const int given = args.type == 'a' ? args.arraySize : 1;
  const AvsValue* list = args.type == 'a' ? args.d.array : &args;
  if (Same(name, "LoadCPlugin") && given == 1 && list[0].type == 's') return LoadCPlugin(e, list[0].d.string);
  AvsValue bound[16];
  AvsFilterInfo* fi;
  if (AvsClip* blank = Same(name, "BlankClip") ? avs_new_c_filter(e, &fi, AvsValue{}, 0) : nullptr)
    return avs_set_to_clip(&bound[0], blank), avs_release_clip(blank), bound[0];
  for (int f = 0; f < env.count; ++f) {
    if (!Same(env.names[f], name)) continue;
    const char *names[16], *types[16];
    int count = 0;
    for (const char* p = env.params[f]; *p && count < 16; ++count, ++p) {
      names[count] = *p == '[' ? p + 1 : nullptr;
      while (names[count] && *p++ != ']') {
      }
      types[count] = p, bound[count] = AvsValue{'v', 0, {nullptr}};
    }
    for (int i = 0, at = 0; i < given; ++i, ++at) {
      for (at = argNames && argNames[i] ? 0 : at; argNames && argNames[i] && at < count; ++at) {
        if (names[at] && Same(argNames[i], names[at])) break;
      }
      if (at >= count || list[i].type != *types[at]) return Error("Invalid arguments to function");
      bound[at] = list[i];
    }
    return env.apply[f](e, AvsValue{'a', static_cast<short>(count), {bound}}, env.data[f]);
  }
  return Error("There is no function named that");
}

API AvsEnv* AVSC_CC avs_create_script_environment(int) { return memset(&env, 0, sizeof env), (AvsEnv*)&env; }
API void AVSC_CC avs_delete_script_environment(AvsEnv*) {
  for (char* s = env.saved; s != nullptr; env.saved = s) s = *reinterpret_cast<char**>(env.saved), free(env.saved);
}
API const char* AVSC_CC avs_save_string(AvsEnv*, const char* s, int length) {
  char* block = static_cast<char*>(malloc(sizeof(char*) + length + 1));
  *reinterpret_cast<char**>(block) = env.saved, env.saved = block, block += sizeof(char*);
  return memcpy(block, s, length), block[length] = 0, block;
}
API int StandinFaults() { return static_cast<int>(liveClips + liveFrames + misuses); }
API void StandinUnused() { abort(); }

#if STANDIN_PLUS
API int AVSC_CC avs_get_pitch_p(const AvsVideoFrame* f, int plane) { return AvsPitch(AvsApi{}, f, plane); }
API const uint8_t* AVSC_CC avs_get_read_ptr_p(const AvsVideoFrame* f, int p) { return AvsReadPtr(AvsApi{}, f, p); }
API uint8_t* AVSC_CC avs_get_write_ptr_p(const AvsVideoFrame* f, int p) {
  return AvsWritePtr(AvsApi{}, (AvsVideoFrame*)f, p);
}
API AvsMap* AVSC_CC avs_get_frame_props_rw(AvsEnv*, AvsVideoFrame* f) {
  return Add(&misuses, f->refcount != 1), &reinterpret_cast<Frame*>(f)->props;
}
API const AvsMap* AVSC_CC avs_get_frame_props_ro(AvsEnv*, const AvsVideoFrame* f) { return &((const Frame*)f)->props; }
API int64_t AVSC_CC avs_prop_get_int(AvsEnv*, const AvsMap* map, const char* key, int, int* error) {
  int i = 0;
  while (i < map->count && !Same(map->keys[i], key)) ++i;
  return *error = i == map->count, i < map->count ? map->values[i] : 0;
}
API int AVSC_CC avs_prop_set_int(AvsEnv*, AvsMap* map, const char* key, int64_t value, int) {
  int i = 0;
  while (i < map->count && !Same(map->keys[i], key)) ++i;
  if (i == 8) return 1;
  for (int k = 0; k < 23 && (map->keys[i][k] = key[k]); ++k) {
  }
  return map->count += i == map->count, map->values[i] = value, 0;
}
API AvsVideoFrame* AVSC_CC avs_new_video_frame_p(AvsEnv* e, const AvsVideoInfo* vi, const AvsVideoFrame* src) {
  AvsVideoFrame* f = avs_new_video_frame_a(e, vi, 16);
  return reinterpret_cast<Frame*>(f)->props = reinterpret_cast<const Frame*>(src)->props, f;
}
#endif
