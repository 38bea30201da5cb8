// A stand-in VapourSynth core (API 4): the part of the interface the plugin
// and the test client use, built from the interface's facts. It behaves as
// the real core wherever a plugin can see it: counted references checked at
// freeCore, frames fetched only after they were requested, an error from a
// filter failing that frame and everything built on it. The mistakes that
// make the real core end the process, and the stand-in's own checks (rows
// written past their end, requests out of order), are logged as mtCritical
// "stand-in core: ..." messages instead, which the client fails on.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "vapoursynth/vs_api.h"

struct VSMap {
  struct Prop {
    int type = ptUnset;
    std::vector<int64_t> ints;
    std::vector<std::string> data;
    std::vector<VSNode*> nodes;
  };
  std::map<std::string, Prop> props;
  std::string error;
};
struct VSFrame {
  std::atomic<int> refs{1};
  VSVideoFormat format;
  int width[3], height[3];
  ptrdiff_t stride[3];
  std::vector<uint8_t> plane[3];
  VSMap props;
};
struct VSNode {
  std::atomic<int> refs{1};
  VSVideoInfo vi;
  std::string name;
  VSFilterGetFrame getFrame;
  VSFilterFree free;
  int mode;
  void* instance;
  std::vector<VSNode*> deps;
  std::mutex serial;  // for every mode but fmParallel
};
struct VSFrameContext {
  std::vector<std::pair<VSNode*, int>> pending;
  std::map<std::pair<VSNode*, int>, const VSFrame*> ready;
  std::string error;
};
struct VSPlugin {
  std::string id, ns, path;
  struct Function {
    std::string args, returns;
    VSPublicFunction create;
    void* userData;
  };
  std::map<std::string, Function> functions;
  bool configured = false;
};
struct VSLogHandle {
  VSLogHandler handler;
  VSLogHandlerFree free;
  void* userData;
};
struct VSCore {
  std::vector<std::unique_ptr<VSPlugin>> plugins;
  std::vector<std::unique_ptr<VSLogHandle>> logs;
  std::vector<void*> libraries;
};

namespace {

const uint8_t Guard = 0xA5;  // the bytes between a row's end and the next row
std::atomic<int> liveFrames{0}, liveNodes{0};
VSCore* theCore = nullptr;  // one core at a time
extern const VSAPI api;

void Log(int type, const std::string& message) {
  if (theCore)
    for (auto& h : theCore->logs) h->handler(type, message.c_str(), h->userData);
}
void Mistake(const std::string& what) { Log(mtCritical, "stand-in core: " + what); }

bool ValidFormat(const VSVideoFormat& f) {
  return f.colorFamily >= cfGray && f.colorFamily <= cfYUV && f.sampleType == stInteger && f.bitsPerSample == 8 &&
         f.bytesPerSample == 1 && f.subSamplingW >= 0 && f.subSamplingW <= 2 && f.subSamplingH >= 0 &&
         f.subSamplingH <= 2 && f.numPlanes == (f.colorFamily == cfGray ? 1 : 3) &&
         (f.colorFamily == cfYUV || (f.subSamplingW == 0 && f.subSamplingH == 0));
}
int64_t Gcd(int64_t a, int64_t b) { return b ? Gcd(b, a % b) : a; }

// ---- maps
VSMap::Prop* Find(const VSMap* m, const char* key, int index, int type, int* error) {
  auto it = m->props.find(key);
  int e = it == m->props.end() ? peUnset : it->second.type != type ? peType : peSuccess;
  const VSMap::Prop& p = e ? VSMap::Prop{} : it->second;
  const size_t size = type == ptInt ? p.ints.size() : type == ptData ? p.data.size() : p.nodes.size();
  if (!e && (index < 0 || static_cast<size_t>(index) >= size)) e = peIndex;
  if (error)
    *error = e;
  else if (e)
    Mistake(std::string("read of missing key ") + key + " without an error pointer");
  return e ? nullptr : const_cast<VSMap::Prop*>(&it->second);
}
VSMap::Prop& Slot(VSMap* m, const char* key, int type, int append) {
  VSMap::Prop& p = m->props[key];
  if (append != maAppend || p.type != type) {
    for (VSNode* n : p.nodes) api.freeNode(n);
    p = VSMap::Prop{};
    p.type = type;
  }
  return p;
}
void ClearMap(VSMap* m) {
  for (auto& kv : m->props)
    for (VSNode* n : kv.second.nodes) api.freeNode(n);
  m->props.clear();
  m->error.clear();
}
void CopyMap(const VSMap* src, VSMap* dst) {
  for (auto& kv : src->props) {
    for (VSNode* n : kv.second.nodes) api.addNodeRef(n);
    for (VSNode* n : dst->props[kv.first].nodes) api.freeNode(n);
    dst->props[kv.first] = kv.second;
  }
}

// ---- frames
VSFrame* NewFrame(const VSVideoFormat* f, int width, int height, const VSFrame* propSrc, VSCore*) {
  if (!ValidFormat(*f) || width <= 0 || height <= 0) return Mistake("newVideoFrame of an invalid format"), nullptr;
  VSFrame* frame = new VSFrame;
  ++liveFrames;
  frame->format = *f;
  for (int p = 0; p < f->numPlanes; ++p) {
    frame->width[p] = p ? width >> f->subSamplingW : width;
    frame->height[p] = p ? height >> f->subSamplingH : height;
    // Rows 32 bytes apart at least, never just the row's bytes.
    frame->stride[p] = (frame->width[p] + 32 + 31) / 32 * 32;
    frame->plane[p].assign(static_cast<size_t>(frame->stride[p]) * frame->height[p], Guard);
  }
  if (propSrc) CopyMap(&propSrc->props, &frame->props);
  return frame;
}
void FreeFrame(const VSFrame* f) {
  if (!f || --const_cast<VSFrame*>(f)->refs > 0) return;
  for (int p = 0; p < f->format.numPlanes; ++p)
    for (int y = 0; y < f->height[p]; ++y)
      for (ptrdiff_t x = f->width[p]; x < f->stride[p]; ++x)
        if (f->plane[p][y * f->stride[p] + x] != Guard) return Mistake("a frame's row was written past its end");
  ClearMap(&const_cast<VSFrame*>(f)->props);
  delete f;
  --liveFrames;
}
VSFrame* CopyFrame(const VSFrame* f, VSCore* core) {
  VSFrame* copy = NewFrame(&f->format, f->width[0], f->height[0], f, core);
  for (int p = 0; p < f->format.numPlanes; ++p) copy->plane[p] = f->plane[p];
  return copy;
}

// ---- nodes and frame requests
VSNode* NewNode(const char* name, const VSVideoInfo* vi, VSFilterGetFrame getFrame, VSFilterFree free, int mode,
                const VSFilterDependency* deps, int numDeps, void* instance, std::string* error) {
  const int64_t g = vi->fpsDen > 0 ? Gcd(vi->fpsNum, vi->fpsDen) : 1;
  if (!ValidFormat(vi->format) || vi->fpsNum < 0 || vi->fpsDen < 0 || vi->width < 0 || vi->height < 0 ||
      (vi->width == 0) != (vi->height == 0) || vi->numFrames < 1 || g != 1) {
    *error = std::string("The VSVideoInfo structure passed by ") + name + " is invalid.";
    Mistake(*error);  // the instance is not taken over: the plugin must not get here
    return nullptr;
  }
  if (mode < fmParallel || mode > fmUnordered) Mistake(std::string(name) + ": filter mode " + std::to_string(mode));
  VSNode* node = new VSNode;
  ++liveNodes;
  node->vi = *vi;
  node->name = name;
  node->getFrame = getFrame;
  node->free = free;
  node->mode = mode;
  node->instance = instance;
  for (int i = 0; i < numDeps; ++i) node->deps.push_back(deps[i].source);
  return node;
}
void FreeNode(VSNode* node) {
  if (!node || --node->refs > 0) return;
  if (node->free) node->free(node->instance, theCore, &api);
  delete node;
  --liveNodes;
}

// Frame n of `node`, run to the end synchronously on this thread: the
// initial call, every request (in turn, recursively), then the call with
// all frames ready or with the error of the first failed request.
const VSFrame* Produce(VSNode* node, int n, std::string& error) {
  std::unique_lock<std::mutex> serial(node->serial, std::defer_lock);
  if (node->mode != fmParallel) serial.lock();
  VSFrameContext ctx;
  void* frameData[4] = {};
  int reason = arInitial;
  for (;;) {
    const VSFrame* f = node->getFrame(n, reason, node->instance, frameData, &ctx, theCore, &api);
    if (!f && ctx.error.empty() && reason == arError) ctx.error = error;
    const std::string who = node->name + " frame " + std::to_string(n) + ": ";
    if (f && !ctx.error.empty()) Mistake(who + "returned a frame and set an error");
    if (f && !ctx.pending.empty()) Mistake(who + "returned a frame while requests are outstanding");
    if (!f && ctx.error.empty() && ctx.pending.empty() && reason != arInitial)
      Mistake(who + "returned no frame, no error and no requests");
    if (f && (f->width[0] != node->vi.width || f->height[0] != node->vi.height ||
              memcmp(&f->format, &node->vi.format, sizeof f->format) != 0))
      Mistake(who + "returned a frame of another format or size");
    if (f || !ctx.error.empty() || reason == arError || (reason != arInitial && ctx.pending.empty())) {
      for (auto& kv : ctx.ready) FreeFrame(kv.second);
      if (f && ctx.error.empty()) return f;
      FreeFrame(f);
      error = ctx.error.empty() ? who + "failed" : ctx.error;
      return nullptr;
    }
    reason = arAllFramesReady;
    for (auto& r : ctx.pending) {
      if (ctx.ready.count(r)) continue;
      const VSFrame* got = Produce(r.first, r.second, error);
      if (!got) reason = arError;
      ctx.ready[r] = got;
    }
    ctx.pending.clear();
  }
}
void RequestFrame(int n, VSNode* node, VSFrameContext* ctx) {
  if (n < 0) return Mistake("request of frame " + std::to_string(n));
  n = std::min(n, node->vi.numFrames - 1);
  for (auto& r : ctx->pending)
    if (r.first == node && r.second > n) Mistake("frames requested in descending order");
  ctx->pending.emplace_back(node, n);
}
const VSFrame* GetFrameFilter(int n, VSNode* node, VSFrameContext* ctx) {
  auto it = ctx->ready.find({node, std::min(n, node->vi.numFrames - 1)});
  if (it == ctx->ready.end() || !it->second) return Mistake("frame fetched before it was requested"), nullptr;
  return api.addFrameRef(it->second);
}

// ---- plugins
const std::regex ArgsSyntax(
    "(?:[a-zA-Z][a-zA-Z0-9_]*:(?:int|float|data|vnode|anode|vframe|aframe|func)(?:\\[\\])?"
    "(?::opt)?(?::empty)?;)*(?:any)?");
int ConfigPlugin(const char* id, const char* ns, const char*, int, int apiVersion, int, VSPlugin* plugin) {
  if (plugin->configured) Mistake("configPlugin called twice");
  if (apiVersion >> 16 != VapourSynthApiMajor || (apiVersion & 0xFFFF) > 2)
    Mistake("plugin asks for API " + std::to_string(apiVersion));
  for (auto& other : theCore->plugins)
    if (other.get() != plugin && (other->id == id || other->ns == ns))
      Mistake(std::string("plugin ") + id + " is already loaded");
  plugin->id = id;
  plugin->ns = ns;
  return plugin->configured = true;
}
int RegisterFunction(const char* name, const char* args, const char* ret, VSPublicFunction create, void* userData,
                     VSPlugin* plugin) {
  if (!std::regex_match(name, std::regex("[a-zA-Z][a-zA-Z0-9_]*")) || !std::regex_match(args, ArgsSyntax) ||
      !std::regex_match(ret, ArgsSyntax) || !plugin->configured)
    return Mistake(std::string("registerFunction ") + name + " \"" + args + "\""), 0;
  plugin->functions[name] = {args, ret, create, userData};
  return 1;
}
int PluginApiVersion() { return VapourSynthApiVersion | 2; }
const VSPLUGINAPI pluginApi{PluginApiVersion, ConfigPlugin, RegisterFunction};

void VS_CC LoadPlugin(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI*) {
  const char* path = api.mapGetData(in, "path", 0, nullptr);
  void* library = dlopen(path, RTLD_LAZY);
  auto init = library ? reinterpret_cast<VSInitPlugin>(dlsym(library, "VapourSynthPluginInit2")) : nullptr;
  if (!init) return api.mapSetError(out, (std::string("No entry point found in ") + path).c_str());
  core->libraries.push_back(library);
  core->plugins.push_back(std::make_unique<VSPlugin>());
  core->plugins.back()->path = path;
  init(core->plugins.back().get(), &pluginApi);
}

// invoke: the arguments checked against the function's signature, as the
// core does before any create function runs.
VSMap* Invoke(VSPlugin* plugin, const char* name, const VSMap* args) {
  VSMap* out = api.createMap();
  auto fn = plugin->functions.find(name);
  if (fn == plugin->functions.end()) return api.mapSetError(out, "no such function"), out;
  static const std::map<std::string, int> types{{"int", ptInt}, {"data", ptData}, {"vnode", ptVideoNode}};
  static const std::regex argument("([^:;]+):([a-z]+)(:opt)?(?::empty)?;");
  size_t matched = 0;
  const std::string& list = fn->second.args;
  for (std::sregex_iterator a(list.begin(), list.end(), argument), end; a != end; ++a) {
    auto given = args->props.find((*a)[1]);
    const std::string problem = given == args->props.end()                ? ((*a)[3].matched ? "" : " is required")
                                : given->second.type != types.at((*a)[2]) ? " has the wrong type"
                                                                          : (++matched, "");
    if (!problem.empty())
      return api.mapSetError(out, (std::string(name) + ": " + (*a)[1].str() + problem).c_str()), out;
  }
  if (matched != args->props.size())
    return api.mapSetError(out, (std::string(name) + ": unknown argument").c_str()), out;
  fn->second.create(args, out, fn->second.userData, theCore, &api);
  int missing = 0;
  if (out->error.empty() && fn->second.returns == "clip:vnode;" && !Find(out, "clip", 0, ptVideoNode, &missing))
    Mistake(std::string(name) + " set no error and returned no clip");
  return out;
}

// ---- the API table: what neither the plugin nor the client calls is null
const VSAPI api = [] {
  VSAPI a{};
  a.createVideoFilter = [](VSMap* out, const char* name, const VSVideoInfo* vi, VSFilterGetFrame gf, VSFilterFree fr,
                           int mode, const VSFilterDependency* deps, int numDeps, void* inst, VSCore*) {
    std::string error;
    if (VSNode* node = NewNode(name, vi, gf, fr, mode, deps, numDeps, inst, &error))
      api.mapConsumeNode(out, "clip", node, maAppend);
    else
      api.mapSetError(out, error.c_str());
  };
  a.createVideoFilter2 = [](const char* name, const VSVideoInfo* vi, VSFilterGetFrame gf, VSFilterFree fr, int mode,
                            const VSFilterDependency* deps, int numDeps, void* inst, VSCore*) {
    std::string error;
    return NewNode(name, vi, gf, fr, mode, deps, numDeps, inst, &error);
  };
  a.freeNode = FreeNode;
  a.addNodeRef = [](VSNode* n) { return ++n->refs, n; };
  a.getNodeType = [](VSNode*) { return static_cast<int>(mtVideo); };
  a.getVideoInfo = [](VSNode* n) -> const VSVideoInfo* { return &n->vi; };
  a.newVideoFrame = NewFrame;
  a.freeFrame = FreeFrame;
  a.addFrameRef = [](const VSFrame* f) { return ++const_cast<VSFrame*>(f)->refs, f; };
  a.copyFrame = CopyFrame;
  a.getFramePropertiesRO = [](const VSFrame* f) -> const VSMap* { return &f->props; };
  a.getFramePropertiesRW = [](VSFrame* f) { return &f->props; };
  a.getStride = [](const VSFrame* f, int p) { return f->stride[p]; };
  a.getReadPtr = [](const VSFrame* f, int p) -> const uint8_t* { return f->plane[p].data(); };
  a.getWritePtr = [](VSFrame* f, int p) {
    if (f->refs > 1) Mistake("write to a frame that is shared");
    return f->plane[p].data();
  };
  a.getVideoFrameFormat = [](const VSFrame* f) -> const VSVideoFormat* { return &f->format; };
  a.getFrameWidth = [](const VSFrame* f, int p) { return f->width[p]; };
  a.getFrameHeight = [](const VSFrame* f, int p) { return f->height[p]; };
  a.getVideoFormatName = [](const VSVideoFormat* f, char* buffer) {
    const char* family = f->colorFamily == cfGray ? "Gray" : f->colorFamily == cfRGB ? "RGB" : "YUV";
    std::string name = f->colorFamily == cfRGB ? "RGB24" : family;
    if (f->colorFamily == cfYUV) name += std::to_string(f->subSamplingW == 0 ? 444 : f->subSamplingH ? 420 : 422) + "P";
    if (f->colorFamily != cfRGB) name += "8";
    return std::snprintf(buffer, 32, "%s", name.c_str()), 1;
  };
  a.getFrame = [](int n, VSNode* node, char* errorMsg, int bufSize) {
    std::string error;
    const VSFrame* f = nullptr;
    if (n < 0 || n >= node->vi.numFrames)
      error = "Invalid frame number " + std::to_string(n) + " requested, clip only has " +
              std::to_string(node->vi.numFrames) + " frames";
    else
      f = Produce(node, n, error);
    if (!f && errorMsg && bufSize > 0) std::snprintf(errorMsg, static_cast<size_t>(bufSize), "%s", error.c_str());
    return f;
  };
  a.getFrameFilter = GetFrameFilter;
  a.requestFrameFilter = RequestFrame;
  a.setFilterError = [](const char* message, VSFrameContext* ctx) { ctx->error = message; };
  a.createMap = [] { return new VSMap; };
  a.freeMap = [](VSMap* m) { ClearMap(m), delete m; };
  a.mapSetError = [](VSMap* m, const char* message) { ClearMap(m), m->error = message ? message : "(null)"; };
  a.mapGetError = [](const VSMap* m) { return m->error.empty() ? nullptr : m->error.c_str(); };
  a.mapDeleteKey = [](VSMap* m, const char* key) { return static_cast<int>(m->props.erase(key)); };
  a.mapGetInt = [](const VSMap* m, const char* key, int i, int* e) {
    VSMap::Prop* p = Find(m, key, i, ptInt, e);
    return p ? p->ints[i] : 0;
  };
  a.mapSetInt = [](VSMap* m, const char* key, int64_t v, int append) {
    return Slot(m, key, ptInt, append).ints.push_back(v), 0;
  };
  a.mapGetData = [](const VSMap* m, const char* key, int i, int* e) {
    VSMap::Prop* p = Find(m, key, i, ptData, e);
    return p ? p->data[i].c_str() : nullptr;
  };
  a.mapGetDataSize = [](const VSMap* m, const char* key, int i, int* e) {
    VSMap::Prop* p = Find(m, key, i, ptData, e);
    return p ? static_cast<int>(p->data[i].size()) : -1;
  };
  a.mapSetData = [](VSMap* m, const char* key, const char* d, int size, int, int append) {
    return Slot(m, key, ptData, append).data.emplace_back(d, size < 0 ? strlen(d) : static_cast<size_t>(size)), 0;
  };
  a.mapGetNode = [](const VSMap* m, const char* key, int i, int* e) {
    VSMap::Prop* p = Find(m, key, i, ptVideoNode, e);
    return p ? api.addNodeRef(p->nodes[i]) : nullptr;
  };
  a.mapConsumeNode = [](VSMap* m, const char* key, VSNode* node, int append) {
    if (!node) return Mistake("mapConsumeNode of null"), 1;
    return Slot(m, key, ptVideoNode, append).nodes.push_back(node), 0;
  };
  a.mapSetNode = [](VSMap* m, const char* key, VSNode* node, int append) {
    return api.mapConsumeNode(m, key, api.addNodeRef(node), append);
  };
  a.getPluginByID = [](const char* id, VSCore* core) -> VSPlugin* {
    for (auto& p : core->plugins)
      if (p->id == id) return p.get();
    return nullptr;
  };
  a.invoke = Invoke;
  a.createCore = [](int) {
    if (theCore) Mistake("a second core");
    theCore = new VSCore;
    auto builtIn = std::make_unique<VSPlugin>();
    builtIn->id = "com.vapoursynth.std";
    builtIn->ns = "std";
    builtIn->configured = true;
    builtIn->functions["LoadPlugin"] = {"path:data;", "", LoadPlugin, nullptr};
    theCore->plugins.push_back(std::move(builtIn));
    return theCore;
  };
  a.freeCore = [](VSCore* core) {
    if (liveNodes || liveFrames)
      Mistake("freeCore with " + std::to_string(liveNodes) + " nodes and " + std::to_string(liveFrames) +
              " frames still referenced");
    for (auto& h : core->logs)
      if (h->free) h->free(h->userData);
    for (void* library : core->libraries) dlclose(library);
    delete core;
    theCore = nullptr;
    liveNodes = liveFrames = 0;
  };
  a.getAPIVersion = PluginApiVersion;
  a.logMessage = [](int type, const char* message, VSCore*) { Log(type, message); };
  a.addLogHandler = [](VSLogHandler handler, VSLogHandlerFree free, void* userData, VSCore* core) {
    core->logs.push_back(std::make_unique<VSLogHandle>(VSLogHandle{handler, free, userData}));
    return core->logs.back().get();
  };
  return a;
}();

}  // namespace

extern "C" __attribute__((visibility("default"))) const VSAPI* getVapourSynthAPI(int version) {
  return version >> 16 == VapourSynthApiMajor && (version & 0xFFFF) <= 2 ? &api : nullptr;
}
