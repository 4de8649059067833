#include "glyph_bander.h"

#include <array>

namespace bspp {
namespace {

// The data byte of one dot column: raster row `top` in bit 7 down to row
// top + 7 in bit 0.
char bandByte(std::uint16_t inkedRows, int top) {
  const unsigned rows = inkedRows;
  unsigned byte = 0;
  for (int r = 0; r < 8; ++r) {
    if ((rows >> (top + r)) & 1u) byte |= 0x80u >> r;
  }
  return static_cast<char>(byte);
}

void appendBand(std::string& stream, char spacing, const InkColumns& ink, int k,
                int top) {
  const char header[] = {'\x1B', 'A', spacing, '\x0D', '\x0A', '\x1B', 'L',
                         static_cast<char>(k % 256), static_cast<char>(k / 256)};
  stream.append(header, sizeof header);
  for (int x = 0; x < k; ++x) {
    // Dot columns past the raster's right edge are blank.
    stream.push_back(x < kLineDots ? bandByte(ink[static_cast<std::size_t>(x)], top) : '\0');
  }
}

bool endsWithLineTerminator(const std::string& stream) {
  return stream.size() > kLineTerminator.size() &&
         std::string_view(stream).substr(stream.size() - kLineTerminator.size()) ==
             kLineTerminator;
}

}  // namespace

void GlyphBander::appendBands(const LineGlyphs& glyphs, std::string& stream) {
  const std::size_t count = glyphs.count();
  if (count == 0) return;

  std::array<GlyphCell, kMaxGlyphsPerLine> cells{};
  for (std::size_t i = 0; i < count; ++i) {
    cells[i] = GlyphCell{static_cast<unsigned char>(glyphs.bytes[2 * i]),
                         static_cast<unsigned char>(glyphs.bytes[2 * i + 1]),
                         cellX(glyphs.columns[i])};
  }
  surface_.clear();
  surface_.draw(cells.data(), count);
  surface_.readInk(ink_);

  const int k = bandWidth(glyphs.columns[count - 1]);

  // The bands take the place of the previous line's terminator: their own
  // feeds (4 + 8 units of 1/72 inch) make up its 1/6-inch pitch. Only a
  // terminator that ends the stream before band 0 is removed; band data is
  // never shortened.
  if (endsWithLineTerminator(stream)) stream.resize(stream.size() - kLineTerminator.size());

  appendBand(stream, '\x04', ink_, k, 0);
  appendBand(stream, '\x08', ink_, k, 8);
  stream.push_back(kCarriageReturn);
}

}  // namespace bspp
