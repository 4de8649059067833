// Lays a job text out in 80-column printed lines and builds the job stream.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "escp.h"

namespace bspp {

// The double-byte characters of one printed line: their bytes in order
// (lead, trail, lead, trail, ...) and the column each one starts in.
struct LineGlyphs {
  std::string bytes;                                  // GlyphList
  std::array<std::uint8_t, kMaxGlyphsPerLine> columns{};  // ColumnTable

  std::size_t count() const { return bytes.size() / 2; }
  bool empty() const { return bytes.empty(); }
};

// Where the glyph bands of a line enter the stream. The composer calls it for
// every line that holds double-byte characters, just before the line's text.
// The glyph bander draws them; the composer's tests record the calls.
class BandWriter {
 public:
  virtual ~BandWriter() = default;
  virtual void appendBands(const LineGlyphs& glyphs, std::string& stream) = 0;
};

// Composes one job from its text, which may come in pieces of any size: the
// bytes of the stream are the same however the text is split.
class LineComposer {
 public:
  // With no band writer the double-byte characters show only as their two
  // blank columns.
  explicit LineComposer(BandWriter* bands);

  // Lays out the next piece of the text. A lead byte that ends the piece is
  // paired with the first byte of the next one.
  void add(std::string_view text);
  // Ends the job: the last, partly filled line and the form feed that
  // keepPage asks for. A lead byte still unpaired is paired with a NUL.
  void close(bool keepPage);
  // Appends the part of the stream that can no longer change to `out` and
  // forgets it. Until close(), the last bytes are kept back: the bands of the
  // next line take the place of a line terminator that ends the stream.
  void take(std::string& out);
  // Room for a stream of about `bytes`, when the whole text is known.
  void reserve(std::size_t bytes);

 private:
  void addByte(char b);
  void emit(std::size_t length);

  BandWriter* bands_;
  std::string stream_;  // composed and not yet taken
  std::string text_;    // LineText
  LineGlyphs glyphs_;
  int column_ = 0;
  bool leadPending_ = false;  // glyphs_.bytes ends with a lead awaiting its trail
  bool closed_ = false;
};

// The whole job for `text` at once.
std::string compose(std::string_view text, bool keepPage, BandWriter* bands);

}  // namespace bspp
