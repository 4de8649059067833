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
class BandWriter {
 public:
  virtual ~BandWriter() = default;
  virtual void appendBands(const LineGlyphs& glyphs, std::string& stream) = 0;
};

// Appends the whole job for `text` to `stream`. With no band writer the
// double-byte characters show only as their two blank columns.
void compose(std::string_view text, bool keepPage, std::string& stream,
             BandWriter* bands);

}  // namespace bspp
