// The off-screen raster that double-byte characters are drawn into.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "escp.h"

namespace bspp {

// One character to draw: its two code page 936 bytes and the top-left corner
// of its cell on the raster (x in dots; the cell's top is raster row 0).
struct GlyphCell {
  unsigned char lead;
  unsigned char trail;
  int x;
};

// The ink of raster rows 0 to 15, one entry per dot column: bit r is set when
// the pixel in row r holds exactly the text colour.
inline constexpr int kBandRows = 16;
using InkColumns = std::array<std::uint16_t, kLineDots>;

// A raster 960 dots wide on which a line's characters are drawn in the text
// colour over black. Platforms implement it with their own text rendering.
class DrawSurface {
 public:
  virtual ~DrawSurface() = default;
  // Paints rows 0 to 15 black.
  virtual void clear() = 0;
  // Draws the characters in order, each with its cell painted black behind
  // the glyph. A pair the code page does not map draws nothing.
  virtual void draw(const GlyphCell* cells, std::size_t count) = 0;
  // Reports which pixels of rows 0 to 15 are inked.
  virtual void readInk(InkColumns& ink) = 0;
  // True once a character that the code page maps could not be drawn
  // because no usable font has a glyph for it. The call then prints nothing:
  // blanks where the characters belong would be a wrong page reported as
  // printed.
  virtual bool missedGlyph() const { return false; }
};

}  // namespace bspp
