// The command's few calls into the desktop, per system: whether standard
// error is a terminal (for a progress line), and opening an address in the
// person's default browser. Command side only: not built into the modules.
#ifndef ZEMIVTC_PLATFORM_DESKTOP_H
#define ZEMIVTC_PLATFORM_DESKTOP_H

#include <string>

namespace platform {

bool ErrorStreamIsTerminal();

// Starts the default browser on `url` (xdg-open, or the shell's "open" on
// Windows) without waiting for it; false when it could not be started.
bool OpenInBrowser(const std::string& url);

}  // namespace platform

#endif
