// A stand-in VapourSynth API-4 core: the part the plugin and the client use,
// from the interface's facts. A function's arguments are checked against its
// signature (refused in the real core's words) before it runs with its user
// data; every format the core has can be named and made. References are
// counted and checked at freeCore, frames are fetched only once requested, a
// filter's error fails that frame and those made from it. What ends the real
// core's process, and rows written past their end, is logged as mtCritical.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
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
struct Function {
  VSPublicFunction create;
  void* data;
  std::string args;  // "name:type[:opt][:empty];...", a last "any" passing any others
};
struct VSPlugin {
  std::string id, ns;
  std::map<std::string, Function> functions;  // by name
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
int RowBytes(const VSFrame* f, int p) { return f->width[p] * f->format.bytesPerSample; }
ptrdiff_t Stride(const VSFrame* f, int p) { return (RowBytes(f, p) + 63) / 32 * 32; }  // never just the row's bytes
const std::pair<int64_t, std::string>* Find(const VSMap* m, const char* key, int type, int* error) {
  auto it = m->keys.find(key);
  const int e = it == m->keys.end() ? peUnset : it->second.first != type ? peType : peSuccess;
  if (e && !error) Mistake(std::string("no error pointer for the missing ") + key);
  return error && (*error = e), e ? nullptr : &it->second.second;
}
void FreeNode(VSNode* node);
// The real core's name of a format: Gray8, RGB30, YUV420P10, YUV444PS, ...
std::string FormatName(const VSVideoFormat& f) {
  static const char* const families[] = {"Undefined", "Gray", "RGB", "YUV"};
  static const char* const yuv[3][3] = {{"444", "440", ""}, {"422", "420", ""}, {"411", "", "410"}};
  const int w = f.subSamplingW, h = f.subSamplingH;
  const std::string sub =
      w < 3 && h < 3 && *yuv[w][h] ? yuv[w][h] : "ssw" + std::to_string(w) + "ssh" + std::to_string(h);
  return families[f.colorFamily] + (f.colorFamily == cfYUV ? sub + "P" : "") +
         (f.sampleType == stFloat ? f.bitsPerSample == 32 ? "S" : "H"
          : f.colorFamily         ? std::to_string(f.bitsPerSample * (f.colorFamily == cfRGB ? 3 : 1))
                                  : "");
}
// The arguments against the signature, as the core checks them before it
// calls the function: the refusal in its words, or none.
std::string CheckArguments(const std::string& name, const std::string& signature, const VSMap* in) {
  static const std::string types[] = {"int", "float", "data", "func", "vnode", "anode", "vframe", "aframe"};
  std::set<std::string> others;
  for (const auto& key : in->keys) others.insert(key.first);
  for (const auto& key : in->nodes) others.insert(key.first);
  std::istringstream list(signature);
  for (std::string item, arg, type; std::getline(list, item, ';');) {
    std::istringstream parts(item);
    std::getline(std::getline(parts, arg, ':'), type, ':');
    const auto given = in->keys.find(arg);
    const int want = ptInt + int(std::find(types, types + 8, type) - types);  // in VSPropertyType's order
    const int got = given != in->keys.end() ? given->second.first : in->nodes.count(arg) ? ptVideoNode : ptUnset;
    if (item == "any") others.clear();
    if (item == "any" || (got == ptUnset && item.find(":opt") != item.npos)) continue;
    if (got == ptUnset) return name + ": argument " + arg + " is required";
    if (others.erase(arg), got != want) return name + ": argument " + arg + " is not of the correct type";
  }
  std::string named;
  for (const std::string& key : others) named += (named.empty() ? "" : ", ") + key;
  return named.empty() ? "" : name + ": no argument(s) named " + named;
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
      if (std::count(row + RowBytes(f, p), row + Stride(f, p), 0xA5) != Stride(f, p) - RowBytes(f, p))
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
    [](const char* id, const char* ns, const char*, int, int apiVersion, int, VSPlugin* plugin) {
      if (!plugin->id.empty() || apiVersion != VapourSynthApiVersion) Mistake("configPlugin");
      return plugin->id = id, plugin->ns = ns, 1;
    },
    [](const char* name, const char* args, const char*, VSPublicFunction create, void* data, VSPlugin* plugin) {
      if (plugin->id.empty()) Mistake("registerFunction before configPlugin");
      return plugin->functions[name] = Function{create, data, args}, 1;
    }};
// std.LoadPlugin: the plugin's entry point with the plugin interface (the
// user data this function was registered with); refused where a plugin of
// its identifier or namespace is loaded already.
void VS_CC LoadPlugin(const VSMap* in, VSMap* out, void* pluginInterface, VSCore* core, const VSAPI*) {
  const std::string path = api.mapGetData(in, "path", 0, nullptr);
  void* library = dlopen(path.c_str(), RTLD_LAZY);
  auto init = reinterpret_cast<VSInitPlugin>(library ? dlsym(library, "VapourSynthPluginInit2") : nullptr);
  if (!init) return api.mapSetError(out, ("No entry point found in " + path).c_str());
  VSPlugin plugin;
  init(&plugin, static_cast<const VSPLUGINAPI*>(pluginInterface));
  for (const auto& loaded : core->plugins) {
    if (loaded.first == plugin.id)
      return api.mapSetError(out, ("Plugin " + path + " already loaded (" + plugin.id + ")").c_str());
    if (loaded.second.ns == plugin.ns)
      return api.mapSetError(
          out, ("Plugin load of " + path + " failed, namespace " + plugin.ns + " already populated").c_str());
  }
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
  a.getVideoFormatName = [](const VSVideoFormat* f, char* name) -> int {
    return std::snprintf(name, 32, "%s", FormatName(*f).c_str()) > 0 && f->colorFamily != cfUndefined;
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
  a.mapDeleteKey = [](VSMap* m, const char* key) {
    return m->nodes.count(key) ? FreeNode(m->nodes[key]), int(m->nodes.erase(key)) : int(m->keys.erase(key));
  };
  a.mapGetInt = [](const VSMap* m, const char* k, int, int* e) {
    auto v = Find(m, k, ptInt, e);
    return v ? v->first : 0;
  };
  a.mapSetInt = [](VSMap* m, const char* k, int64_t i, int) { return m->keys[k] = {ptInt, {i, ""}}, 0; };
  a.mapSetFloat = [](VSMap* m, const char* k, double, int) { return m->keys[k] = {ptFloat, {0, ""}}, 0; };
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
    auto f = plugin->functions.find(name);
    out->error = f == plugin->functions.end() ? "Function '" + std::string(name) + "' not found in " + plugin->id
                                              : CheckArguments(name, f->second.args, args);
    if (out->error.empty()) f->second.create(args, out, f->second.data, theCore, &api);
    return out;
  };
  a.createCore = [](int) {
    theCore = new VSCore;
    VSPlugin& std = theCore->plugins["com.vapoursynth.std"] = {"com.vapoursynth.std", "std", {}};
    std.functions["LoadPlugin"] = {LoadPlugin, const_cast<VSPLUGINAPI*>(&pluginApi),
                                   "path:data;altsearchpath:int:opt;forcens:data:opt;forceid:data:opt;"};
    return theCore;
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
