// The command's few calls into the desktop, per system: whether standard
// error is a terminal (for a progress line), opening an address in the
// person's default browser, and the system's random source. Command side
// only: not built into the modules.
#ifndef ZEMIVTC_PLATFORM_DESKTOP_H
#define ZEMIVTC_PLATFORM_DESKTOP_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

bool ErrorStreamIsTerminal();

// Starts the default browser on `url` (xdg-open, or the shell's "open" on
// Windows) without waiting for it; false when it could not be started.
bool OpenInBrowser(const std::string& url);

// Fills `bytes` from the system's random source (getrandom, or rand_s on
// Windows); false when it cannot.
bool SystemRandom(uint8_t* bytes, size_t count);

}  // namespace platform

#endif
