// Placeholder until the FreeType raster lands: bands stay blank.
#include "compose/glyph_surface.h"

namespace bspp {

std::unique_ptr<DrawSurface> prepareGlyphSurface() { return std::make_unique<BlankSurface>(); }

}  // namespace bspp
