// The "parallel" device scheme: parallel:/dev/lp0 (or any /dev/lp*,
// /dev/usb/lp*), written through the library's own POSIX port.
#pragma once

namespace bspp::printer_app {

// Registers the scheme with PAPPL. Call once, before papplMainloop.
void addParallelScheme();

}  // namespace bspp::printer_app
