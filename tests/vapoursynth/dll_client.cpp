// Loads the 64-bit Windows plugin as a core does (LoadLibrary, then its
// VapourSynthPluginInit2) with a stand-in plugin interface, checks what it
// registers, and runs its create function on a stand-in VSAPI: a plan whose
// UTF-8 name is not ASCII is read (8 frames of film, 24000/1001), a missing
// one refused, and the source node released either way. Under Wine's
// 64-bit half: vapoursynth_dll_client.exe zemivtc_vs.dll
#include "tests/abi/win_runtime.h"
#include "vapoursynth/vs_api.h"

extern "C" __declspec(dllimport) int __cdecl _wopen(const wchar_t* path, int flags, ...);

namespace {

using winrt::SameText;
int configured = 0, registered = 0, nodesFreed = 0;
VSPublicFunction create = nullptr;
const char* planPath = nullptr;  // the zemFile argument
const char* error = nullptr;
VSVideoInfo made{};
VSAPI api{};

int VS_CC ConfigPlugin(const char* id, const char* ns, const char*, int, int apiVersion, int, VSPlugin*) {
  ++configured;
  return CHECK(SameText(id, "org.zemivtc.zemivtc") && SameText(ns, "zemivtc") && apiVersion == VapourSynthApiVersion);
}

int VS_CC RegisterFunction(const char* name, const char* args, const char* ret, VSPublicFunction function, void*,
                           VSPlugin*) {
  ++registered;
  create = function;
  return CHECK(SameText(name, "ZEMIVTC") && SameText(args, "clip:vnode;zemFile:data:opt;tff:int:opt;") &&
               SameText(ret, "clip:vnode;"));
}

// A 720x480 4:2:0 clip of 100 frames; tff=1; zemFile=planPath.
void Create(const char* plan) {
  static const VSVideoInfo source{{cfYUV, stInteger, 8, 1, 1, 1, 3}, 30000, 1001, 720, 480, 100};
  api.mapGetNode = [](const VSMap*, const char*, int, int*) { return reinterpret_cast<VSNode*>(&api); };
  api.getVideoInfo = [](VSNode*) { return &source; };
  api.freeNode = [](VSNode*) { ++nodesFreed; };
  api.mapGetInt = [](const VSMap*, const char* key, int, int* e) { return int64_t{*e = !SameText(key, "tff")} ^ 1; };
  api.mapGetData = [](const VSMap*, const char*, int, int* e) { return *e = 0, planPath; };
  api.mapGetDataSize = [](const VSMap*, const char*, int, int* e) { return *e = 0, int(strlen(planPath)); };
  api.mapSetError = [](VSMap*, const char* message) { error = message; };
  api.logMessage = [](int, const char*, VSCore*) {};
  api.createVideoFilter = [](VSMap*, const char*, const VSVideoInfo* vi, VSFilterGetFrame, VSFilterFree release,
                             int mode, const VSFilterDependency*, int, void* data, VSCore*) {
    made = *vi;
    CHECK(mode == fmParallel);
    release(data, nullptr, &api);
  };
  planPath = plan;
  error = nullptr;
  made = VSVideoInfo{};
  create(nullptr, nullptr, nullptr, nullptr, &api);
}

int Main(int argc, char** argv) {
  void* dll = argc == 2 ? LoadLibraryA(argv[1]) : nullptr;
  auto init = reinterpret_cast<VSInitPlugin>(dll ? GetProcAddress(dll, "VapourSynthPluginInit2") : nullptr);
  if (!CHECK(init != nullptr)) return 1;
  const VSPLUGINAPI pluginApi{[] { return VapourSynthApiVersion; }, ConfigPlugin, RegisterFunction};
  init(reinterpret_cast<VSPlugin*>(&configured), &pluginApi);
  if (!CHECK(configured == 1 && registered == 1 && create != nullptr)) return 1;

  const int fd = _wopen(L"plan-\u00e9.zem", 0x8301 /* write, create, truncate, binary */, 0x180);
  CHECK(fd >= 0 && _write(fd, "10010100101001010010", 20) == 20 && _close(fd) == 0);
  Create("plan-\xc3\xa9.zem");
  CHECK(error == nullptr && made.numFrames == 8 && made.fpsNum == 24000 && made.fpsDen == 1001 && nodesFreed == 1);
  Create("missing-\xc3\xa9.zem");
  CHECK(SameText(error, "ZEMIVTC: File open error") && made.numFrames == 0 && nodesFreed == 2);
  winrt::Print(1, "vapoursynth_dll_client: %d checks, %d failed\n", winrt::tally.checks, winrt::tally.failures);
  return winrt::tally.failures ? 1 : 0;
}

}  // namespace

WINRT_ENTRY(VsDllClientStart, Main)
