// The module's one export: registers ZEMIVTC with the host.
#include "host/avisynth.h"
#include "plugin/create_filter.h"

AVS_EXPORT const char* AVSC_CC AvisynthPluginInit2(IScriptEnvironment* env) {
  env->AddFunction("ZEMIVTC", "c[zemFile]s", CreateFilter, nullptr);
  return "ZEMIVTC Plugin";
}
