// A text/plain document turned into the job stream the library composes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace bspp::printer_app {

enum class Charset { automatic, utf8, gb2312, unsupported };

// The charset named by a document-format parameter ("text/plain;
// charset=gb2312") or a document-charset value; `automatic` when neither
// names one: UTF-8, or GB2312 for a document that is not UTF-8 but all
// GB2312 (a UTF-8 text with Chinese characters never is).
Charset charsetOf(std::string_view format, std::string_view documentCharset);

// Why a document was not printed; what() is the message for the user.
class TextJobError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole stream for one text document: its lines as 80-column records
// (textToRecords), then a NUL, composed with the platform's glyph raster
// exactly as bspp-print composes the same records, so the job ends with a
// form feed. Throws TextJobError naming line and column for a character the
// library cannot print, or when no font can draw the Chinese characters.
std::string composeTextJob(std::string_view document, Charset charset);

}  // namespace bspp::printer_app
