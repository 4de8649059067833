// The platform the exported call runs on.
#pragma once

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "port/lpt_port.h"

namespace bspp {

class NativePlatform final : public Platform {
 public:
  std::unique_ptr<Port> openPort() override { return bspp::openPort(kFirstParallelPort); }
  std::unique_ptr<DrawSurface> prepareSurface() override { return prepareGlyphSurface(); }
};

}  // namespace bspp
