// The platform's raster for double-byte characters, drawn with the 12-point
// Song font ("宋体") at the screen's resolution: 16 pixels high at 96 dpi.
#pragma once

#include <memory>

#include "compose/draw_surface.h"

namespace bspp {

// Prepares the surface for one call: raster, font and colours. Returns a
// BlankSurface when no raster can be had; a missing font leaves the
// platform's default font in its place.
std::unique_ptr<DrawSurface> prepareGlyphSurface();

}  // namespace bspp
