// A second plugin for the core's refusals: it takes the namespace of
// ZEMIVTC's plugin under an identifier of its own, and its one function says
// whether the core called it with the user data it was registered with.
#include "vapoursynth/vs_api.h"

namespace {
const char token = 0;
void VS_CC UserData(const VSMap*, VSMap* out, void* data, VSCore*, const VSAPI* vsapi) {
  vsapi->mapSetError(out, data == &token ? "UserData: its own user data" : "UserData: other user data");
}
}  // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin* plugin, const VSPLUGINAPI* vspapi) {
  vspapi->configPlugin("org.zemivtc.fixture", "zemivtc", "a fixture of the tests", 1, VapourSynthApiVersion, 0, plugin);
  vspapi->registerFunction("UserData", "any", "clip:vnode;", UserData, const_cast<char*>(&token), plugin);
}
