// What the module needs from its system beyond platform/: the host's
// functions bound into an AvsApi, and file output for the timecodes. One
// implementation per system: avs_link_win32.cpp, avs_link_posix.cpp.
#ifndef ZEMIVTC_AVISYNTH_C_AVS_LINK_H
#define ZEMIVTC_AVISYNTH_C_AVS_LINK_H

#include <stdint.h>

#include "avisynth_c/avs_c.h"

// Fills `api` from the host. Windows: the imported functions as the loader
// bound them, the newer ones from avisynth.dll by GetProcAddress. Linux: every
// function from the library that holds `caller` (an address in the code that
// called the entry point: the host's own library, however it was opened and
// whatever its SONAME), else from the global scope. False when an imported
// function is missing; `api` is then left as it was.
bool BindHostFunctions(const void* caller, AvsApi& api);

// True for a regular file (read again by every instance); false for pipes,
// FIFOs and devices, whose contents one reading consumes.
bool IsRegularFilePath(const char* path);

// Creates or truncates a file for writing: -1 on failure.
int CreateOutputFile(const char* path);
bool WriteOutput(int fd, const void* bytes, uint32_t count);
// False when the system reports that the bytes did not reach the file.
bool CloseOutput(int fd);

#endif
