// Reading the input and writing results whole or not at all.
#pragma once

#include <string>
#include <string_view>

namespace bspp::tools {

// Reads a whole file, or standard input for "-". On failure returns false
// with a reason in `error`.
bool readWhole(const std::string& path, std::string& data, std::string& error);

// Writes `data` to `path` through a temporary file in the same folder that
// is renamed into place only when every byte is written, so a reader never
// sees half a file and a failure leaves any earlier file untouched. "-"
// writes to standard output. On failure returns false with a reason.
bool writeWhole(const std::string& path, std::string_view data, std::string& error);

}  // namespace bspp::tools
