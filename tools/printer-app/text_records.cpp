#include "text_records.h"

#include <cstdio>

#include "text_input.h"

namespace bspp::printer_app {
namespace {

constexpr int kColumns = 80;
constexpr char kFormFeed = '\f';

bool isLead(unsigned char b) { return b >= 0xA0; }

// Collects the records of one document.
class RecordWriter {
 public:
  explicit RecordWriter(std::string& out) : out_(out) {}

  void put(std::string_view character) {
    const int width = character.size() == 2 ? 2 : 1;
    if (columns_ + width > kColumns) finishRecord();
    out_ += character;
    columns_ += width;
  }
  void formFeed() {
    if (columns_ > 0) finishRecord();
    out_ += kFormFeed;
    columns_ = 1;
    finishRecord();
  }
  // Ends a line of the document: an empty line is a blank record.
  void endLine(bool lineWasEmpty) {
    if (columns_ > 0 || lineWasEmpty) finishRecord();
  }

 private:
  void finishRecord() {
    out_.append(static_cast<std::size_t>(kColumns - columns_), ' ');
    columns_ = 0;
  }

  std::string& out_;
  int columns_ = 0;
};

bool isFormFeedRecord(std::string_view record) {
  return record.size() == static_cast<std::size_t>(kColumns) && record[0] == kFormFeed &&
         record.find_first_not_of(' ', 1) == std::string_view::npos;
}

}  // namespace

void checkGb2312(std::string_view text) {
  std::size_t line = 1;
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    ++column;
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == '\n') {
      ++line;
      column = 0;
      continue;
    }
    if (b < 0x80) continue;
    // The same rule as bspp-print's --utf8: exactly the codes of GB 2312.
    const bool pair = i + 1 < text.size() &&
                      tools::isGb2312Code(b, static_cast<unsigned char>(text[i + 1]));
    if (!pair) {
      char bytes[16];
      if (i + 1 < text.size()) {
        std::snprintf(bytes, sizeof bytes, "%02X %02X", b, static_cast<unsigned char>(text[i + 1]));
      } else {
        std::snprintf(bytes, sizeof bytes, "%02X", b);
      }
      throw tools::InputError(line, column,
                              std::string("bytes ") + bytes + " are not a GB2312 character");
    }
    ++i;
  }
}

std::string textToRecords(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  RecordWriter records(out);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    for (std::size_t j = start; j < end; ++j) {
      if (text[j] == kFormFeed) {
        records.formFeed();
      } else if (isLead(static_cast<unsigned char>(text[j])) && j + 1 < end) {
        records.put(text.substr(j, 2));
        ++j;
      } else {
        records.put(text.substr(j, 1));
      }
    }
    records.endLine(end == start);
    start = next;
  }
  while (out.size() >= static_cast<std::size_t>(kColumns) &&
         isFormFeedRecord(std::string_view(out).substr(out.size() - kColumns))) {
    out.resize(out.size() - kColumns);
  }
  return out;
}

TextPosition firstDoubleByte(std::string_view text) {
  TextPosition at{1, 0};
  for (std::size_t i = 0; i < text.size(); ++i) {
    ++at.column;
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == '\n') {
      ++at.line;
      at.column = 0;
    } else if (isLead(b)) {
      return at;
    }
  }
  return {};
}

}  // namespace bspp::printer_app
