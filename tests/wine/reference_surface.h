// The per-dot design, kept as a yardstick: one text call per character on a
// screen-compatible bitmap, then one GetPixel per dot the bands need.
#pragma once

#include <memory>

#include "compose/draw_surface.h"

namespace bspp_test {

// Draws with the same font, colours and character rules as the library's
// surface; null when no raster can be had.
std::unique_ptr<bspp::DrawSurface> makeReferenceSurface();

}  // namespace bspp_test
