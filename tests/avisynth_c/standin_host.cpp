// The host side of the C interface as its facts describe it, as avisynth.dll
// (Windows) or a shared library, in two kinds. STANDIN_PLUS=0: AviSynth 2.60
// of May 2012, on Windows exactly its 38 exports (CMakeLists.txt), frames read
// through the 2.6 record, a child's error not passed on, a request that ends
// with no frame and no error a crash (reported here instead). 1: AviSynth+,
// with plane accessors, frame properties, the child's pending error, and two
// threads, in the MT mode a new filter answers, with no ordering of its own
// between them (below). Required arguments are
// enforced; parity is the filter's, else its child's. Frames are padded,
// start past their buffer's start and hold 0xCD.
// StandinFaults: clips and frames alive, and property writes to frames held
// twice (the host's cached copy would change). One environment at a time.
#include "avisynth_c/avs_c.h"
#include "platform/crt.h"
#if defined(_WIN32)
extern "C" __declspec(dllimport) void* __stdcall LoadLibraryA(const char*);
extern "C" __declspec(dllimport) void* __stdcall GetProcAddress(void*, const char*);
extern "C" __declspec(dllimport) unsigned long __stdcall GetCurrentThreadId();
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long);
extern "C" __declspec(dllimport) void __cdecl abort(void);
#define API extern "C"
long ThreadId() { return static_cast<long>(GetCurrentThreadId()); }
void Yield() { Sleep(0); }
#else
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#define API extern "C" __attribute__((visibility("default")))
long ThreadId() { return static_cast<long>(pthread_self()); }
void Yield() { sched_yield(); }
#endif

struct Props {
  char keys[8][24];
  int64_t values[8];
  int count;
};
struct Frame {
  AvsVideoFrame f;  // first: the record the module reads in 2.6
  AvsVideoFrameBuffer vfb;
  AvsVideoInfo vi;
  uint8_t* block;
  Props props;  // an AvsMap* is a Props*
};
struct AvsClip {  // every clip is a filter, and a clip handle the clip itself
  AvsFilterInfo fi;
  long refs;
  char error[256];
  // Two threads, as the MT mode of a filter made by a call says (no answer:
  // MULTI_INSTANCE): odd frames to a twin made by the same call, or one
  // request at a time (SERIALIZED), or both at once on the one instance
  // (NICE_FILTER), as AviSynth+ calls it.
  int mode;  // 0: not asked
  AvsClip* twin;
  long busy;
  long thread, others;  // the first thread the filter's callback ran on; 1 once another one ran it
};
namespace {
struct Function {
  const char *name, *params;
  AvsApplyFunc apply;
  void* data;
} functions[8];
int functionCount;
char envError[256], *saved;  // saved strings, each after a link to the one before
long liveClips, liveFrames, misuses;
long Add(long* v, long d) { return __atomic_add_fetch(v, d, __ATOMIC_ACQ_REL); }
// Counts and frame references change with no ordering beyond what freeing a
// frame needs (its last holder acquires), so that nothing here orders two
// requests: ThreadSanitizer then sees a filter's unsynchronised state
// whatever the threads' timing.
long Count(volatile long* v, long d) { return __atomic_add_fetch(v, d, __ATOMIC_RELAXED); }
bool Same(const char* a, const char* b) {  // ASCII case aside; b may end at a ']'
  while (*a && (*a | 0x20) == (*b | 0x20)) ++a, ++b;
  return *a == *b || (*a == 0 && *b == ']');
}
template <int size>
const char* Copy(char (&to)[size], const char* from) {
  for (int i = 0; (to[i] = i < size - 1 ? from[i] : 0); ++i) {
  }
  return to;
}
AvsValue Error(const char* m) { return AvsErrorValue(Copy(envError, m)); }
Frame* Of(const void* f) { return static_cast<Frame*>(const_cast<void*>(f)); }
int Padded(int bytes, int align) { return (bytes + align - 1) / align * align + align; }
}  // namespace
API AvsVideoFrame* AVSC_CC avs_get_frame(AvsClip* c, int n);

API AvsVideoFrame* AVSC_CC avs_new_video_frame_a(AvsEnv*, const AvsVideoInfo* vi, int align) {
  align = align > 16 ? align : 16;
  const int type = vi->pixelType, planar = type < 0, subW = planar && !(type & 3), subH = planar && !(type & 0x300);
  Frame* fr = static_cast<Frame*>(memset(malloc(sizeof(Frame)), 0, sizeof(Frame)));
  AvsVideoFrame& f = fr->f;
  f.rowSize = vi->width * (2 - planar), f.height = vi->height, f.pitch = Padded(f.rowSize, align), f.offset = align;
  f.rowSizeUV = planar * vi->width >> subW, f.heightUV = planar * vi->height >> subH;
  f.pitchUV = planar * Padded(f.rowSizeUV, align), f.offsetV = f.offset + f.pitch * f.height;
  f.offsetU = f.offsetV + f.pitchUV * f.heightUV, fr->vfb.dataSize = f.offsetU + f.pitchUV * f.heightUV + align;
  fr->block = static_cast<uint8_t*>(malloc(fr->vfb.dataSize + 64));
  if (!getenv("ZEMIVTC_STANDIN_NO_FILL")) memset(fr->block, 0xCD, fr->vfb.dataSize + 64);  // bench: as a cache
  fr->vfb.data = fr->block + (64 - reinterpret_cast<uintptr_t>(fr->block) % 64);
  fr->vfb.refcount = f.refcount = 1, f.vfb = &fr->vfb, fr->vi = *vi;
  return Count(&liveFrames, 1), &f;
}
API void AVSC_CC avs_release_video_frame(AvsVideoFrame* f) {
  if (!f || __atomic_sub_fetch(&f->refcount, 1, __ATOMIC_RELEASE) != 0) return;
  (void)__atomic_load_n(&f->refcount, __ATOMIC_ACQUIRE);  // after every other holder's release
  free(Of(f)->block), free(f), Count(&liveFrames, -1);
}
API AvsVideoFrame* AVSC_CC avs_copy_video_frame(AvsVideoFrame* f) { return Count(&f->refcount, 1), f; }
API int AVSC_CC avs_make_writable(AvsEnv* e, AvsVideoFrame** pf) {
  // Other threads may hold it too; its one holder writes it after the others' releases.
  if (__atomic_load_n(&(*pf)->refcount, __ATOMIC_RELAXED) == 1 &&
      __atomic_load_n(&(*pf)->refcount, __ATOMIC_ACQUIRE) == 1)
    return 0;
  Frame* fr = Of(avs_new_video_frame_a(e, &Of(*pf)->vi, (*pf)->offset));  // the same geometry
  memcpy(fr->vfb.data, (*pf)->vfb->data, fr->vfb.dataSize);
  fr->props = Of(*pf)->props;
  return avs_release_video_frame(*pf), *pf = &fr->f, 1;
}

API AvsClip* AVSC_CC avs_new_c_filter(AvsEnv* e, AvsFilterInfo** fi, AvsValue child, int store) {
  AvsClip* c = static_cast<AvsClip*>(memset(malloc(sizeof(AvsClip)), 0, sizeof(AvsClip)));
  AvsClip* from = child.type == 'c' ? static_cast<AvsClip*>(child.d.clip) : nullptr;
  c->refs = 1, c->fi.env = e, c->fi.vi = from ? from->fi.vi : AvsVideoInfo{}, *fi = &c->fi, Count(&liveClips, 1);
  if (from && store) c->fi.child = from, Add(&from->refs, 1);
  return c;
}
API void AVSC_CC avs_release_clip(AvsClip* c) {
  if (Add(&c->refs, -1) != 0) return;
  if (c->fi.freeFilter) c->fi.freeFilter(&c->fi);
  if (c->fi.child) avs_release_clip(c->fi.child);
  if (c->twin) avs_release_clip(c->twin);
  free(c), Count(&liveClips, -1);
}
API AvsClip* AVSC_CC avs_take_clip(AvsValue v, AvsEnv*) {
  return Add(&((AvsClip*)v.d.clip)->refs, 1), (AvsClip*)v.d.clip;
}
API void AVSC_CC avs_set_to_clip(AvsValue* v, AvsClip* c) { *v = AvsValue{'c', 0, {c}}, Add(&c->refs, 1); }
API void AVSC_CC avs_release_value(AvsValue v) { v.type == 'c' ? avs_release_clip((AvsClip*)v.d.clip) : void(); }
API const AvsVideoInfo* AVSC_CC avs_get_video_info(AvsClip* c) { return &c->fi.vi; }
API const char* AVSC_CC avs_clip_get_error(AvsClip* c) { return c->error[0] ? c->error : nullptr; }
API int AVSC_CC avs_get_parity(AvsClip* c, int n) {
  return c->fi.getParity ? c->fi.getParity(&c->fi, n)
         : c->fi.child   ? avs_get_parity(c->fi.child, n)
                         : (c->fi.vi.imageType & AvsItTff) != 0;
}
// A request: the thread noted, the error slot cleared (written only when set:
// two threads may share a child), the callback (or the child's frame), the
// error raised.
AvsVideoFrame* Request(AvsClip* c, int n) {
  long first = 0;
  if (!__atomic_compare_exchange_n(&c->thread, &first, ThreadId(), false, __ATOMIC_RELAXED, __ATOMIC_RELAXED) &&
      first != ThreadId())
    __atomic_store_n(&c->others, 1, __ATOMIC_RELAXED);
  AvsFilterInfo& fi = c->fi;
  if (fi.error || c->error[0]) fi.error = nullptr, c->error[0] = 0;
  AvsVideoFrame* f = fi.getFrame ? fi.getFrame(&fi, n) : fi.child ? avs_get_frame(fi.child, n) : nullptr;
  const char* error = fi.getFrame ? fi.error : fi.child ? avs_clip_get_error(fi.child) : "no frames";
  if (STANDIN_PLUS && !error && fi.child) error = avs_clip_get_error(fi.child);
  if (!error && !f) error = "standin: a frame request gave no frame and no error (a crash in 2.6)";
  return error ? Copy(c->error, error), avs_release_video_frame(f), nullptr : f;
}
API AvsVideoFrame* AVSC_CC avs_get_frame(AvsClip* c, int n) {
  if (c->twin && (n & 1)) {
    AvsVideoFrame* f = avs_get_frame(c->twin, n);
    if (!f || c->error[0]) Copy(c->error, f ? "" : c->twin->error);  // the last request's, as Request keeps it
    return f;
  }
  if (c->mode == 0 || c->mode == AvsMtMultiInstance || c->mode == AvsMtNiceFilter) return Request(c, n);
  while (__atomic_exchange_n(&c->busy, 1, __ATOMIC_ACQUIRE)) Yield();
  AvsVideoFrame* f = Request(c, n);
  return __atomic_store_n(&c->busy, 0, __ATOMIC_RELEASE), f;
}

API int AVSC_CC avs_add_function(AvsEnv*, const char* name, const char* params, AvsApplyFunc apply, void* data) {
  if (functionCount == 8) return Error("standin: too many functions"), -1;
  return functions[functionCount++] = Function{name, params, apply, data}, 0;
}
// A plugin's entry point, by the name this host looks up first.
AvsValue LoadCPlugin(AvsEnv* e, const char* path) {
  typedef const char*(AVSC_CC * Init)(AvsEnv*);
#if defined(_WIN32)
  const char* name = sizeof(void*) == 8 ? "avisynth_c_plugin_init"
                     : STANDIN_PLUS     ? "_avisynth_c_plugin_init@4"
                                        : "avisynth_c_plugin_init@4";
  Init init = (Init)GetProcAddress(LoadLibraryA(path), name);
#else
  void* module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
  Init init = module ? (Init)dlsym(module, "avisynth_c_plugin_init") : nullptr;
#endif
  const char* text = init ? init(e) : nullptr;
  AvsValue v{STANDIN_PLUS ? 'b' : 's', 0, {const_cast<char*>(text)}};  // AviSynth+ answers true
  return text ? (STANDIN_PLUS ? v.d.boolean = 1 : 0, v) : Error("Unable to load C Plugin");
}
// Positional arguments fill the parameters in order, named ones theirs; each
// of its parameter's type, and every one without a name given, or the call
// is refused.
API AvsValue AVSC_CC avs_invoke(AvsEnv* e, const char* name, AvsValue args, const char** argNames) {
  const int given = args.type == 'a' ? args.arraySize : 1;
  const AvsValue* list = args.type == 'a' ? args.d.array : &args;
  if (Same(name, "LoadCPlugin") && given == 1 && list[0].type == 's') return LoadCPlugin(e, list[0].d.string);
  AvsValue bound[16];
  AvsFilterInfo* fi;
  if (AvsClip* blank = Same(name, "BlankClip") ? avs_new_c_filter(e, &fi, AvsValue{}, 0) : nullptr)
    return avs_set_to_clip(&bound[0], blank), avs_release_clip(blank), bound[0];
  for (const Function* f = functions; f < functions + functionCount; ++f) {
    if (!Same(f->name, name)) continue;
    const char *names[16], *types[16];
    int count = 0;
    for (const char* p = f->params; *p && count < 16; ++count, ++p) {
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
    for (int i = 0; i < count; ++i)
      if (!names[i] && bound[i].type == 'v') return Error("Invalid arguments to function");
    const AvsValue call{'a', static_cast<short>(count), {bound}}, made = f->apply(e, call, f->data);
    AvsClip* c = made.type == 'c' ? static_cast<AvsClip*>(made.d.clip) : nullptr;
    if (STANDIN_PLUS && c && !c->mode) {  // a new filter: its MT mode, as AviSynth+ asks it
      const int mode = c->fi.setCacheHints ? c->fi.setCacheHints(&c->fi, AvsCacheGetMtMode, 0) : 0;
      c->mode = mode ? mode : AvsMtMultiInstance;
      const AvsValue twin = c->mode == AvsMtMultiInstance ? f->apply(e, call, f->data) : AvsValue{};
      if (twin.type == 'c' && twin.d.clip != c) c->twin = static_cast<AvsClip*>(twin.d.clip);
      if (!c->twin) avs_release_value(twin);  // none, or the same clip passed through again
    }
    return made;
  }
  return Error("There is no function named that");
}

API AvsEnv* AVSC_CC avs_create_script_environment(int) { return functionCount = 0, (AvsEnv*)envError; }
API void AVSC_CC avs_delete_script_environment(AvsEnv*) {
  for (char* s = saved; s != nullptr; saved = s) s = *reinterpret_cast<char**>(saved), free(saved);
}
API const char* AVSC_CC avs_save_string(AvsEnv*, const char* s, int length) {
  char* block = static_cast<char*>(malloc(sizeof(char*) + length + 1));
  *reinterpret_cast<char**>(block) = saved, saved = block, block += sizeof(char*);
  return memcpy(block, s, length), block[length] = 0, block;
}
API int StandinFaults() { return static_cast<int>(liveClips + liveFrames + misuses); }
// A filter made by a call, its two threads done: its MT mode where its callbacks ran as that says (one instance
// on both threads, or for MULTI_INSTANCE an instance per thread), else minus the mode.
API int AVSC_CC StandinServed(AvsClip* c) {
  const AvsClip* t = c->twin;
  const bool asSaid = c->mode == AvsMtMultiInstance
                          ? t && c->thread && t->thread && c->thread != t->thread && !c->others && !t->others
                          : !t && c->others;
  return asSaid ? c->mode : -c->mode;
}
API void StandinUnused() { abort(); }

#if STANDIN_PLUS
API int AVSC_CC avs_get_pitch_p(const AvsVideoFrame* f, int p) { return AvsPitch(AvsApi{}, f, p); }
API const uint8_t* AVSC_CC avs_get_read_ptr_p(const AvsVideoFrame* f, int p) { return AvsReadPtr(AvsApi{}, f, p); }
API uint8_t* AVSC_CC avs_get_write_ptr_p(const AvsVideoFrame* f, int p) { return AvsWritePtr(AvsApi{}, &Of(f)->f, p); }
API AvsMap* AVSC_CC avs_get_frame_props_rw(AvsEnv*, AvsVideoFrame* f) {
  return Count(&misuses, f->refcount != 1), (AvsMap*)&Of(f)->props;
}
API const AvsMap* AVSC_CC avs_get_frame_props_ro(AvsEnv*, const AvsVideoFrame* f) { return (AvsMap*)&Of(f)->props; }
int Key(const Props* p, const char* key) {
  int i = 0;
  while (i < p->count && !Same(p->keys[i], key)) ++i;
  return i;
}
API int64_t AVSC_CC avs_prop_get_int(AvsEnv*, const AvsMap* map, const char* key, int, int* error) {
  const Props* p = (const Props*)map;
  const int i = Key(p, key);
  return *error = i == p->count, *error ? 0 : p->values[i];
}
API int AVSC_CC avs_prop_set_int(AvsEnv*, AvsMap* map, const char* key, int64_t value, int) {
  Props* p = (Props*)map;
  const int i = Key(p, key);
  if (i == 8) return 1;
  return Copy(p->keys[i], key), p->count += i == p->count, p->values[i] = value, 0;
}
API AvsVideoFrame* AVSC_CC avs_new_video_frame_p(AvsEnv* e, const AvsVideoInfo* vi, const AvsVideoFrame* src) {
  AvsVideoFrame* f = avs_new_video_frame_a(e, vi, 16);
  return Of(f)->props = Of(src)->props, f;
}
#endif
