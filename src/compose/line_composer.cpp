#include "line_composer.h"

namespace bspp {
namespace {

// Length of `line` without its trailing blanks (0x20 only).
std::size_t trimmedLength(const std::string& line) {
  std::size_t n = line.size();
  while (n > 0 && line[n - 1] == ' ') --n;
  return n;
}

class Composer {
 public:
  Composer(std::string& stream, BandWriter* bands) : stream_(stream), bands_(bands) {
    text_.reserve(kLineColumns + 1);
    glyphs_.bytes.reserve(2 * kMaxGlyphsPerLine);
  }

  void add(std::string_view text) {
    const std::size_t size = text.size();
    for (std::size_t j = 0; j < size; ++j) {
      const char b = text[j];
      if (static_cast<unsigned char>(b) < kLeadByteMin) {
        text_.push_back(b);
        column_ += 1;
      } else {
        // column_ is at most 79 here, and a line starts at most 40 glyphs.
        glyphs_.columns[glyphs_.count()] = static_cast<std::uint8_t>(column_);
        glyphs_.bytes.push_back(b);
        glyphs_.bytes.push_back(j + 1 < size ? text[++j] : '\0');
        text_.append(2, ' ');
        column_ += 2;
      }
      if (column_ >= kLineColumns) {
        emit(trimmedLength(text_));
        column_ = 0;
      }
    }
  }

  void close(bool keepPage) {
    if (column_ == 0) return;  // empty text, or the last line was full
    std::size_t n = trimmedLength(text_);
    if (!keepPage && n > 0) --n;
    emit(n);
    if (!keepPage) stream_.push_back(kFormFeed);
  }

 private:
  // Sends the current line: its bands, its first `length` bytes of text and
  // the line terminator; then starts an empty line.
  void emit(std::size_t length) {
    if (!glyphs_.empty() && bands_ != nullptr) bands_->appendBands(glyphs_, stream_);
    stream_.append(text_, 0, length);
    stream_.append(kLineTerminator);
    text_.clear();
    glyphs_.bytes.clear();
  }

  std::string& stream_;
  BandWriter* bands_;
  std::string text_;  // LineText
  LineGlyphs glyphs_;
  int column_ = 0;
};

}  // namespace

void compose(std::string_view text, bool keepPage, std::string& stream,
             BandWriter* bands) {
  stream.reserve(stream.size() + text.size() + text.size() / 16 + 8);
  Composer composer(stream, bands);
  composer.add(text);
  composer.close(keepPage);
}

}  // namespace bspp
