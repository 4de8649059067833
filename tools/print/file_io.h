// Reading the input and writing results whole or not at all.
#pragma once

#include <string>
#include <string_view>

namespace bspp::tools {

// Reads a whole file (path in UTF-8), or standard input for "-". On failure returns false
// with a reason in `error`.
bool readWhole(const std::string& path, std::string& data, std::string& error);

// Writes `data` to `path`. A regular file (the file a symbolic link leads
// to, for a link) is written through a temporary file in the same folder
// that is renamed into place only when every byte is written, so a reader
// never sees half a file and a failure leaves any earlier file untouched. A
// device, FIFO or pipe (/dev/null, /dev/usb/lp0, NUL, LPT1, ...) is written
// in place. "-" writes to standard output. Paths are UTF-8. On failure
// returns false with a reason.
bool writeWhole(const std::string& path, std::string_view data, std::string& error);

// True when `path` names something written in place rather than replaced:
// standard output ("-"), a device or a FIFO.
bool isDevice(const std::string& path);

}  // namespace bspp::tools
