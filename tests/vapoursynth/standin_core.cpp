// A stand-in VapourSynth API-4 core: the part the plugin and the client use,
// from the interface's facts. References are counted and checked at
// freeCore, frames are fetched only once requested, a filter's error fails
// that frame and those made from it. What ends the real core's process, and
// rows written past their end, is logged as mtCritical "stand-in core: ...".
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "vapoursynth/vs_api.h"

struct VSMap {
  std::map<std::string, std::pair<int, std::pair<int64_t, std::string>>> keys;  // type, then an int or data
  std::map<std::string, VSNode*> nodes;
  std::string error;
};
struct VSFrame {
  std::atomic<int> refs{1};
  VSVideoFormat format;
  int width[3], height[3];
  std::vector<uint8_t> plane[3];
  VSMap props;
};
struct VSNode {
  std::atomic<int> refs{1};
  VSVideoInfo vi;
  std::string name;
  VSFilterGetFrame getFrame;
  VSFilterFree free;
  void* instance;
};
struct VSFrameContext {
  std::vector<std::pair<VSNode*, int>> pending;
  std::map<std::pair<VSNode*, int>, const VSFrame*> ready;
  std::string error;
};
struct VSPlugin {
  std::string id;
  std::map<std::string, VSPublicFunction> functions;  // the create functions, by name
};
struct VSCore {
  std::map<std::string, VSPlugin> plugins;  // by identifier
  std::pair<VSLogHandler, void*> log;
};

namespace {

std::atomic<int> liveFrames{0}, liveNodes{0};
VSCore* theCore = nullptr;  // one at a time
extern const VSAPI api;

void Mistake(const std::string& what) {
  theCore->log.first(mtCritical, ("stand-in core: " + what).c_str(), theCore->log.second);
}
ptrdiff_t Stride(const VSFrame* f, int p) { return (f->width[p] + 63) / 32 * 32; }  // never just the row's bytes
const std::pair<int64_t, std::string>* Find(const VSMap* m, const char* key, int type, int* error) {
  auto it = m->keys.find(key);
  const int e = it == m->keys.end() ? peUnset : it->second.first != type ? peType : peSuccess;
  if (e && !error) Mistake(std::string("no error pointer for the missing ") + key);
  return error && (*error = e), e ? nullptr : &it->second.second;
}

VSFrame* NewFrame(const VSVideoFormat* format, int width, int height, const VSFrame* propSrc, VSCore*) {
  VSFrame* f = new VSFrame;
  ++liveFrames;
  f->format = *format;
  for (int p = 0; p < format->numPlanes; ++p) {
    f->width[p] = p ? width >> format->subSamplingW : width;
    f->height[p] = p ? height >> format->subSamplingH : height;
    f->plane[p].assign(size_t(Stride(f, p) * f->height[p]), 0xA5);
  }
  if (propSrc) f->props.keys = propSrc->props.keys;
  return f;
}
void FreeFrame(const VSFrame* f) {
  if (--const_cast<VSFrame*>(f)->refs > 0) return;
  for (int p = 0; p < f->format.numPlanes; ++p)
    for (auto row = f->plane[p].begin(); row != f->plane[p].end(); row += Stride(f, p))
      if (std::count(row + f->width[p], row + Stride(f, p), 0xA5) != Stride(f, p) - f->width[p])
        Mistake("a frame's row written past its end");
  delete f;
  --liveFrames;
}
void FreeNode(VSNode* node) {
  if (--node->refs > 0) return;
  if (node->free) node->free(node->instance, theCore, &api);
  delete node;
  --liveNodes;
}
VSNode* NewNode(const char* name, const VSVideoInfo* vi, VSFilterGetFrame getFrame, VSFilterFree free, int mode,
                const VSFilterDependency*, int, void* instance, VSCore* = nullptr) {
  int64_t a = vi->fpsNum, b = vi->fpsDen;
  while (b) std::swap(a %= b, b);
  if (vi->numFrames < 1 || vi->fpsNum < 0 || vi->fpsDen < 0 || (vi->fpsDen && a != 1) || vi->width < 0 ||
      vi->height < 0 || (vi->width == 0) != (vi->height == 0) || mode < fmParallel || mode > fmUnordered)
    return Mistake(std::string("The VSVideoInfo structure passed by ") + name + " is invalid."), nullptr;
  ++liveNodes;
  return new VSNode{{1}, *vi, name, getFrame, free, instance};
}

// Frame n of `node`, made to the end on this thread: the initial call, each
// request in turn, then the call with all frames ready or with the error.
const VSFrame* Produce(VSNode* node, int n, std::string& error) {
  VSFrameContext ctx;
  void* frameData[4] = {};
  for (int reason = arInitial;; reason = arAllFramesReady) {
    for (auto& r : ctx.pending)
      if (!ctx.ready.count(r) && !(ctx.ready[r] = Produce(r.first, r.second, error))) reason = arError;
    ctx.pending.clear();
    const VSFrame* f = node->getFrame(n, reason, node->instance, frameData, &ctx, theCore, &api);
    const std::string who = node->name + " frame " + std::to_string(n) + ": ";
    if (f && (!ctx.error.empty() || !ctx.pending.empty())) Mistake(who + "returned a frame with an error or requests");
    if (!f && ctx.error.empty() && ctx.pending.empty() && reason == arAllFramesReady) Mistake(who + "returned nothing");
    if (f && (f->width[0] != node->vi.width || f->height[0] != node->vi.height ||
              std::memcmp(&f->format, &node->vi.format, sizeof f->format)))
      Mistake(who + "returned a frame unlike its clip");
    if (f || !ctx.error.empty() || reason == arError || (reason != arInitial && ctx.pending.empty())) {
      for (auto& r : ctx.ready)
        if (r.second) FreeFrame(r.second);
      if (f && ctx.error.empty()) return f;
      if (reason != arError) error = ctx.error;
      return f ? FreeFrame(f) : void(), nullptr;
    }
  }
}

const VSPLUGINAPI pluginApi{
    [] { return VapourSynthApiVersion; },
    [](const char* id, const char*, const char*, int, int apiVersion, int, VSPlugin* plugin) {
      if (!plugin->id.empty() || apiVersion != VapourSynthApiVersion) Mistake("configPlugin");
      return plugin->id = id, 1;
    },
    [](const char* name, const char*, const char*, VSPublicFunction create, void*, VSPlugin* plugin) {
      if (plugin->id.empty()) Mistake("registerFunction before configPlugin");
      return plugin->functions[name] = create, 1;
    }};
void VS_CC LoadPlugin(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI*) {
  const std::string path = api.mapGetData(in, "path", 0, nullptr);
  void* library = dlopen(path.c_str(), RTLD_LAZY);
  auto init = reinterpret_cast<VSInitPlugin>(library ? dlsym(library, "VapourSynthPluginInit2") : nullptr);
  if (!init) return api.mapSetError(out, ("No entry point found in " + path).c_str());
  VSPlugin plugin;
  init(&plugin, &pluginApi);
  core->plugins[plugin.id] = plugin;
}

// What neither the plugin nor the client calls stays null.
const VSAPI api = [] {
  VSAPI a{};
  a.createVideoFilter = [](VSMap* out, const char* name, const VSVideoInfo* vi, VSFilterGetFrame getFrame,
                           VSFilterFree free, int mode, const VSFilterDependency* deps, int numDeps, void* data,
                           VSCore*) {
    api.mapConsumeNode(out, "clip", NewNode(name, vi, getFrame, free, mode, deps, numDeps, data), 0);
  };
  a.createVideoFilter2 = NewNode;
  a.freeNode = FreeNode;
  a.getVideoInfo = [](VSNode* node) -> const VSVideoInfo* { return &node->vi; };
  a.newVideoFrame = NewFrame;
  a.freeFrame = FreeFrame;
  a.addFrameRef = [](const VSFrame* f) { return ++const_cast<VSFrame*>(f)->refs, f; };
  a.copyFrame = [](const VSFrame* f, VSCore* core) {
    VSFrame* copy = NewFrame(&f->format, f->width[0], f->height[0], f, core);
    return std::copy(f->plane, f->plane + 3, copy->plane), copy;
  };
  a.getFramePropertiesRO = [](const VSFrame* f) -> const VSMap* { return &f->props; };
  a.getFramePropertiesRW = [](VSFrame* f) { return &f->props; };
  a.getStride = Stride;
  a.getReadPtr = [](const VSFrame* f, int p) -> const uint8_t* { return f->plane[p].data(); };
  a.getWritePtr = [](VSFrame* f, int p) {
    return f->refs > 1 ? Mistake("write to a shared frame"), nullptr : f->plane[p].data();
  };
  a.getVideoFormatName = [](const VSVideoFormat* f, char* name) {
    const char* family = f->colorFamily == cfGray ? "Gray" : f->colorFamily == cfRGB ? "RGB" : "YUV";
    return std::sprintf(name, "%s%s", family,
                        f->colorFamily == cfRGB    ? "24"
                        : f->colorFamily == cfGray ? "8"
                        : f->subSamplingW          ? f->subSamplingH ? "420P8" : "422P8"
                                                   : "444P8");
  };
  a.getFrame = [](int n, VSNode* node, char* errorMsg, int size) {
    std::string error = "Invalid frame number " + std::to_string(n) + " requested";
    const VSFrame* f = n >= 0 && n < node->vi.numFrames ? Produce(node, n, error) : nullptr;
    return f ? f : (std::snprintf(errorMsg, size_t(size), "%s", error.c_str()), nullptr);
  };
  a.getFrameFilter = [](int n, VSNode* node, VSFrameContext* ctx) -> const VSFrame* {
    auto it = ctx->ready.find({node, std::min(n, node->vi.numFrames - 1)});
    return it != ctx->ready.end() && it->second ? api.addFrameRef(it->second)
                                                : (Mistake("frame fetched unrequested"), nullptr);
  };
  a.requestFrameFilter = [](int n, VSNode* node, VSFrameContext* ctx) {
    n = std::min(n, node->vi.numFrames - 1);
    if (n < 0 || (!ctx->pending.empty() && ctx->pending.back().first == node && ctx->pending.back().second > n))
      Mistake("frame " + std::to_string(n) + " requested out of order");
    ctx->pending.emplace_back(node, n);
  };
  a.setFilterError = [](const char* message, VSFrameContext* ctx) { ctx->error = message; };
  a.createMap = [] { return new VSMap; };
  a.freeMap = [](VSMap* m) {
    for (auto& kv : m->nodes) FreeNode(kv.second);
    delete m;
  };
  a.mapSetError = [](VSMap* m, const char* message) { m->error = message; };
  a.mapGetError = [](const VSMap* m) { return m->error.empty() ? nullptr : m->error.c_str(); };
  a.mapDeleteKey = [](VSMap* m, const char* key) { return int(m->keys.erase(key)); };
  a.mapGetInt = [](const VSMap* m, const char* k, int, int* e) {
    auto v = Find(m, k, ptInt, e);
    return v ? v->first : 0;
  };
  a.mapSetInt = [](VSMap* m, const char* k, int64_t i, int) { return m->keys[k] = {ptInt, {i, ""}}, 0; };
  a.mapGetData = [](const VSMap* m, const char* k, int, int* e) {
    auto v = Find(m, k, ptData, e);
    return v ? v->second.c_str() : nullptr;
  };
  a.mapGetDataSize = [](const VSMap* m, const char* k, int, int* e) {
    auto v = Find(m, k, ptData, e);
    return v ? int(v->second.size()) : -1;
  };
  a.mapSetData = [](VSMap* m, const char* k, const char* d, int size, int, int) {
    return m->keys[k] = {ptData, {0, size < 0 ? d : std::string(d, size_t(size))}}, 0;
  };
  a.mapGetNode = [](const VSMap* m, const char* k, int, int* e) {
    auto it = m->nodes.find(k);
    return e && (*e = it == m->nodes.end()), it == m->nodes.end() ? nullptr : (++it->second->refs, it->second);
  };
  a.mapConsumeNode = [](VSMap* m, const char* k, VSNode* node, int) {
    return node ? (m->nodes.count(k) ? FreeNode(m->nodes[k]) : void(), m->nodes[k] = node, 0)
                : (Mistake("mapConsumeNode of null"), 1);
  };
  a.getPluginByID = [](const char* id, VSCore* core) { return core->plugins.count(id) ? &core->plugins[id] : nullptr; };
  a.invoke = [](VSPlugin* plugin, const char* name, const VSMap* args) {
    VSMap* out = new VSMap;
    return plugin->functions.at(name)(args, out, nullptr, theCore, &api), out;
  };
  a.createCore = [](int) {
    theCore = new VSCore;
    return theCore->plugins["com.vapoursynth.std"].functions["LoadPlugin"] = LoadPlugin, theCore;
  };
  a.freeCore = [](VSCore* core) {
    if (liveNodes || liveFrames)
      Mistake("freeCore with " + std::to_string(liveNodes) + " nodes and " + std::to_string(liveFrames) + " frames");
    delete core;
    liveNodes = liveFrames = 0;
  };
  a.logMessage = [](int type, const char* message, VSCore* core) { core->log.first(type, message, core->log.second); };
  a.addLogHandler = [](VSLogHandler handler, VSLogHandlerFree, void* data, VSCore* core) {
    return core->log = {handler, data}, reinterpret_cast<VSLogHandle*>(core);
  };
  return a;
}();

}  // namespace

extern "C" __attribute__((visibility("default"))) const VSAPI* getVapourSynthAPI(int version) {
  return version >> 16 == VapourSynthApiMajor ? &api : nullptr;
}
