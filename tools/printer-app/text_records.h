// Plain-text documents as the 80-column records the library prints.
#pragma once

#include <string>
#include <string_view>

namespace bspp::printer_app {

// Checks that `gbText` holds only ASCII and GB2312 characters (two bytes,
// both A1-FE). Throws bspp::tools::InputError naming the line and column
// (in characters, from 1) of the first byte that is neither.
void checkGb2312(std::string_view gbText);

// Lays GB2312 text with line breaks (LF or CR LF) out as 80-column records
// end to end, as `bspp-print --lines` does, except that
//  - a line wider than 80 columns continues in the next record (a Chinese
//    character that would start in column 79 moves there whole), and
//  - a form feed ends the record before it and stands in a record of its
//    own, so that the printer ejects the page there and the next line's
//    characters are drawn on the new page; form feeds at the very end are
//    dropped, since the job ends with one anyway.
std::string textToRecords(std::string_view gbText);

// Line and column (in characters, from 1) of the first double-byte
// character of `gbText`, for messages about the font. {0, 0} when none.
struct TextPosition {
  std::size_t line = 0;
  std::size_t column = 0;
};
TextPosition firstDoubleByte(std::string_view gbText);

}  // namespace bspp::printer_app
