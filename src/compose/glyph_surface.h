// The platform's raster for double-byte characters, drawn with the 12-point
// Song font ("宋体") at the screen's resolution: 16 pixels high at 96 dpi.
#pragma once

#include <memory>

#include "compose/draw_surface.h"

namespace bspp {

// Prepares the surface for one call: raster, font and colours. Where no
// raster or no usable font can be had the surface draws nothing and reports
// each character it could not draw (DrawSurface::missedGlyph), so that a job
// with characters is not printed.
std::unique_ptr<DrawSurface> prepareGlyphSurface();

}  // namespace bspp
