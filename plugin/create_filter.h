// The creation function the host runs for each script call of ZEMIVTC.
#ifndef ZEMIVTC_PLUGIN_CREATE_FILTER_H
#define ZEMIVTC_PLUGIN_CREATE_FILTER_H

#include "host/avisynth.h"

// args[0]: the source clip; args[1]: the plan file path, when it is a string.
// Refusals are raised through env->ThrowError before any filter exists.
AVSValue __cdecl CreateFilter(AVSValue args, void* user_data, IScriptEnvironment* env);

#endif
