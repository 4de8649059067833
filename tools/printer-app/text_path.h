// Text documents: checked whole before anything is printed, then composed
// by the library's own composer and sent a piece at a time, so that a text
// of any size prints in bounded memory, byte for byte as bspp-print --utf8
// --lines --wrap makes the same job.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "compose/draw_surface.h"

namespace bspp::printer_app {

enum class Charset { automatic, utf8, gb2312, unsupported };

// The charset named by a document-format parameter ("text/plain;
// charset=gb2312") or a document-charset value; `automatic` when neither
// names one: UTF-8, or GB2312 for a document that is not UTF-8 at all but
// all GB2312 (a UTF-8 text never is).
Charset charsetOf(std::string_view format, std::string_view documentCharset);

// Why a document was not printed; what() is the message for the user.
class TextRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the stream goes, a piece at a time; false stops the job.
using StreamSink = std::function<bool(std::string_view bytes)>;

// One copy of the text in `document` (read from its start, twice): its
// lines as 80-column records, long lines continued, a form feed a page of
// its own, then a NUL, composed with the glyphs of `surface` (the
// platform's glyph raster), so the job ends with a form feed. Throws
// TextRefused, before anything is sent, for a character the library cannot
// print (naming line and column) or when the surface cannot draw one of the
// Chinese characters. False when the sink stopped the job.
bool printText(std::FILE* document, Charset charset, DrawSurface& surface, const StreamSink& sink);

}  // namespace bspp::printer_app
