#include "line_composer.h"

namespace bspp {
namespace {

// Length of `line` without its trailing blanks (0x20 only).
std::size_t trimmedLength(const std::string& line) {
  std::size_t n = line.size();
  while (n > 0 && line[n - 1] == ' ') --n;
  return n;
}

// What take() keeps back: a line terminator that the next line's bands may
// remove, and one byte before it, so that the band writer, which removes a
// terminator only from a stream longer than one, sees the same length test
// answered as it would be on the whole stream.
constexpr std::size_t kKeptBack = kLineTerminator.size() + 1;

}  // namespace

void LineComposer::reserve(std::size_t bytes) { stream_.reserve(bytes); }

LineComposer::LineComposer(BandWriter* bands) : bands_(bands) {
  text_.reserve(kLineColumns + 1);
  glyphs_.bytes.reserve(2 * kMaxGlyphsPerLine);
}

void LineComposer::add(std::string_view text) {
  for (const char b : text) addByte(b);
}

void LineComposer::addByte(char b) {
  if (leadPending_) {
    glyphs_.bytes.push_back(b);
    leadPending_ = false;
  } else if (static_cast<unsigned char>(b) < kLeadByteMin) {
    text_.push_back(b);
    column_ += 1;
  } else {
    // column_ is at most 79 here, and a line starts at most 40 glyphs.
    glyphs_.columns[glyphs_.count()] = static_cast<std::uint8_t>(column_);
    glyphs_.bytes.push_back(b);
    text_.append(2, ' ');
    column_ += 2;
    leadPending_ = true;
    return;  // the line ends, if it does, after the trail byte
  }
  if (column_ >= kLineColumns) {
    emit(trimmedLength(text_));
    column_ = 0;
  }
}

void LineComposer::close(bool keepPage) {
  if (leadPending_) addByte('\0');
  closed_ = true;
  if (column_ == 0) return;  // empty text, or the last line was full
  std::size_t n = trimmedLength(text_);
  if (!keepPage && n > 0) --n;
  emit(n);
  column_ = 0;
  if (!keepPage) stream_.push_back(kFormFeed);
}

void LineComposer::take(std::string& out) {
  if (closed_ && out.empty()) {
    out.swap(stream_);
    stream_.clear();
    return;
  }
  const std::size_t keep = closed_ ? 0 : kKeptBack;
  if (stream_.size() <= keep) return;
  const std::size_t n = stream_.size() - keep;
  out.append(stream_, 0, n);
  stream_.erase(0, n);
}

// Sends the current line: its bands, its first `length` bytes of text and
// the line terminator; then starts an empty line.
void LineComposer::emit(std::size_t length) {
  if (!glyphs_.empty() && bands_ != nullptr) bands_->appendBands(glyphs_, stream_);
  stream_.append(text_, 0, length);
  stream_.append(kLineTerminator);
  text_.clear();
  glyphs_.bytes.clear();
}

std::string compose(std::string_view text, bool keepPage, BandWriter* bands) {
  LineComposer composer(bands);
  composer.reserve(text.size() + text.size() / 16 + 8);
  composer.add(text);
  composer.close(keepPage);
  std::string stream;
  composer.take(stream);
  return stream;
}

}  // namespace bspp
