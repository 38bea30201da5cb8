// Loads the 64-bit Windows plugin as a core does (LoadLibrary, then its
// VapourSynthPluginInit2) with a stand-in plugin interface, and checks what
// it configures and registers. Runs under Wine's 64-bit half:
//   vapoursynth_dll_client.exe zemivtc_vs.dll
#include "tests/abi/win_runtime.h"
#include "vapoursynth/vs_api.h"

namespace {

using winrt::SameText;
int configured = 0, registered = 0;

int VS_CC ConfigPlugin(const char* id, const char* ns, const char*, int, int apiVersion, int, VSPlugin*) {
  ++configured;
  return CHECK(SameText(id, "org.zemivtc.zemivtc") && SameText(ns, "zemivtc") && apiVersion == VapourSynthApiVersion);
}

int VS_CC RegisterFunction(const char* name, const char* args, const char* ret, VSPublicFunction create, void*,
                           VSPlugin*) {
  ++registered;
  return CHECK(SameText(name, "ZEMIVTC") && SameText(args, "clip:vnode;zemFile:data:opt;tff:int:opt;") &&
               SameText(ret, "clip:vnode;") && create != nullptr);
}

int Main(int argc, char** argv) {
  void* dll = argc == 2 ? LoadLibraryA(argv[1]) : nullptr;
  auto init = reinterpret_cast<VSInitPlugin>(dll ? GetProcAddress(dll, "VapourSynthPluginInit2") : nullptr);
  if (!CHECK(init != nullptr)) return 1;
  const VSPLUGINAPI api{[] { return VapourSynthApiVersion; }, ConfigPlugin, RegisterFunction};
  init(reinterpret_cast<VSPlugin*>(&configured), &api);
  CHECK(configured == 1 && registered == 1);
  winrt::Print(1, "vapoursynth_dll_client: %d checks, %d failed\n", winrt::tally.checks, winrt::tally.failures);
  return winrt::tally.failures ? 1 : 0;
}

}  // namespace

WINRT_ENTRY(VsDllClientStart, Main)
