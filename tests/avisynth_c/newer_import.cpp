// Linked into a copy of the module: a direct import of avs_get_pitch_p, which
// the oldest host lacks. The import check must reject that DLL.
#include "avisynth_c/avs_c.h"

extern "C" __declspec(dllimport) int AVSC_CC avs_get_pitch_p(const AvsVideoFrame* frame, int plane);
extern "C" __declspec(dllexport) int NewerImport(const AvsVideoFrame* frame) { return avs_get_pitch_p(frame, 0); }
