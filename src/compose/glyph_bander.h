// Prints a line's double-byte characters as two 8-dot graphics bands.
#pragma once

#include <string>

#include "draw_surface.h"
#include "line_composer.h"

namespace bspp {

class GlyphBander final : public BandWriter {
 public:
  explicit GlyphBander(DrawSurface& surface) : surface_(surface) {}

  // Draws the line's characters and appends band 0 (raster rows 0-7) and
  // band 1 (rows 8-15) as ESC "A" n, CR LF, ESC "L" records, then a CR so
  // that the line's text starts again at the left margin.
  void appendBands(const LineGlyphs& glyphs, std::string& stream) override;

 private:
  DrawSurface& surface_;
  InkColumns ink_{};
};

// Dot columns covered by the bands of a line whose last double-byte
// character starts in `lastColumn`: up to the end of its second column.
inline int bandWidth(int lastColumn) { return (lastColumn + 2) * kDotsPerColumn; }

// Left edge of the cell of a character that starts in `column`.
inline int cellX(int column) { return column * kDotsPerColumn + 5; }

}  // namespace bspp
