// Text with line breaks laid out as the library's 80-column records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bspp::tools {

// What happens to a line wider than 80 columns.
enum class LongLines {
  refuse,  // InputError naming the line and the character that does not fit
  // It continues in the next record (a double-byte character that would
  // start in column 79 moves there whole); and a form feed ends the record
  // before it and stands in a record of its own, so that the printer ejects
  // the page there and the next line's characters are drawn on the new
  // page; form feeds at the very end are dropped, since the job ends with
  // one anyway. This is how the printer application lays out text.
  wrap,
};

// Lays text with line breaks (LF or CR LF), in the job's bytes (GB2312),
// out as fixed 80-column records end to end, as the library expects: each
// line is padded with blanks to 80 columns, a double-byte character (lead
// byte A0 or above, and the byte after it) counting two; a lead byte that
// ends its line counts two as well, as the library will read it. A final
// line break adds no record. The text may come in pieces of any size.
class RecordLayout {
 public:
  explicit RecordLayout(LongLines longLines) : longLines_(longLines) {}

  // Appends the records that the next piece completes to `records`.
  void add(std::string_view piece, std::string& records);
  // The text has ended: appends the last record.
  void finish(std::string& records);

 private:
  void addByte(char b, std::string& records);
  void addLineByte(char b, std::string& records);
  void put(std::string_view character, int width, std::string& records);
  void formFeed(std::string& records);
  void endLine(std::string& records);
  void endRecord(std::string& records);
  void writeHeldFormFeeds(std::string& records);

  LongLines longLines_;
  std::string record_;                // the record being filled
  int columns_ = 0;                   // its columns used
  std::size_t line_ = 1;              // the text's line being read
  std::size_t characters_ = 0;        // characters read of that line
  bool lineEmpty_ = true;             // nothing read of it yet
  char lead_ = 0;                     // a lead byte awaiting its trail
  bool leadPending_ = false;
  bool crPending_ = false;            // a CR that may end the line
  std::size_t heldFormFeeds_ = 0;     // form feed records not yet written
};

// Lays a whole text out (RecordLayout).
std::string linesToRecords(std::string_view gbText, LongLines longLines = LongLines::refuse);

}  // namespace bspp::tools
