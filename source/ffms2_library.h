// FFMS2, loaded at run time: the command runs without it and says what to
// install when a source needs it.
#ifndef ZEMIVTC_SOURCE_FFMS2_LIBRARY_H
#define ZEMIVTC_SOURCE_FFMS2_LIBRARY_H

#include <string>

#include "source/ffms2_api.h"

namespace source {

// The library's file name as the system looks it up: libffms2.so.5 (Linux),
// ffms2.dll (Windows: beside the program, then on the PATH).
const char* DefaultFfms2Library();

// Loads FFMS2 from `file` (empty: DefaultFfms2Library()) once per process
// and file, initialises it and returns its functions. Throws
// stream::CliError with one line saying what to install when the library
// cannot be loaded or lacks a function.
const ffms2::Api& LoadFfms2(const std::string& file = std::string());

}  // namespace source

#endif
