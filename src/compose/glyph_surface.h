// The platform's raster for double-byte characters, drawn with the 12-point
// Song font ("宋体") at the screen's resolution: 16 pixels high at 96 dpi.
#pragma once

#include <memory>

#include "compose/draw_surface.h"

namespace bspp {

// Prepares the surface for one call: raster, font and colours. Returns a
// BlankSurface when no raster can be had. A character that no usable font
// can draw is reported by the surface (DrawSurface::missedGlyph).
std::unique_ptr<DrawSurface> prepareGlyphSurface();

}  // namespace bspp
