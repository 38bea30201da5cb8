// The plugin's one export: the core calls it once when it loads the file.
#include "vapoursynth/filter.h"

// Asks for API 4.0, so that every API-4 core (R55 and later) loads it. The
// function keeps the version-2 module's name and plan argument, so a script
// carries over; tff names the field order where the frames' _FieldBased
// does not, or overrides it.
VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin* plugin, const VSPLUGINAPI* vspapi) {
  vspapi->configPlugin("org.zemivtc.zemivtc", "zemivtc", "ZEMIVTC: inverse telecine by a plan file", 1 << 16,
                       VapourSynthApiVersion, 0, plugin);
  vspapi->registerFunction(FilterName, "clip:vnode;zemFile:data:opt;tff:int:opt;", "clip:vnode;", CreateZemIvtc,
                           nullptr, plugin);
}
