// The glyph raster on Linux, drawn with FreeType.
#pragma once

#include <memory>
#include <vector>

#include "compose/font_lookup.h"
#include "compose/glyph_surface.h"

namespace bspp {

// A surface that draws each character with the first of `fonts` that has
// it (prepareGlyphSurface passes songFontCandidates()). A character that the
// code page maps but none of them has is missed (DrawSurface::missedGlyph),
// also when `fonts` is empty.
std::unique_ptr<DrawSurface> prepareFreeTypeSurface(const std::vector<FontFace>& fonts);

}  // namespace bspp
