// Turning a user's file into the bytes of one job.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bspp::tools {

// A fault in the input, with the 1-based line and column (in characters) it
// was found at.
class InputError : public std::runtime_error {
 public:
  InputError(std::size_t line, std::size_t column, const std::string& what)
      : std::runtime_error(what), line_(line), column_(column) {}
  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }

 private:
  std::size_t line_;
  std::size_t column_;
};

// True when lead and trail byte are the code of a character of GB 2312
// (EUC-CN): both bytes A1-FE and the code assigned in GB 2312 itself. GBK
// assigns more codes in that range (A8 BB "ɑ", the user-defined rows AA-AF
// and F8-FE) that are not.
bool isGb2312Code(unsigned char lead, unsigned char trail);

// Converts UTF-8 text to the bytes the library prints: ASCII stays as it
// is, every other character must be one of GB 2312's, and becomes its two
// bytes (isGb2312Code), read back by the library as code page 936 reads
// them. A leading byte-order mark is dropped. Throws InputError for
// malformed UTF-8 and for a character outside GB 2312 (also one that only
// GBK/code page 936 has).
std::string utf8ToGb2312(std::string_view utf8);

// Lays text with line breaks (LF or CR LF) out as fixed 80-column records
// end to end, as the library expects: each line is padded with blanks to 80
// columns, a double-byte character (lead byte A0 or above) counting two. A
// final line break adds no record. Throws InputError for a line wider than
// 80 columns.
std::string linesToRecords(std::string_view gbText);

// Offset of a lead byte that is the text's last byte (the file was cut in
// the middle of a character), or npos.
std::size_t danglingLeadByte(std::string_view gbText);

}  // namespace bspp::tools
