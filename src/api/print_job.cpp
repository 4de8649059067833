#include "api/print_job.h"

#include "compose/glyph_bander.h"
#include "compose/line_composer.h"

namespace bspp {

std::string copyJobText(const char* text, std::int32_t lastIndex) {
  if (lastIndex < 0) return {};
  return std::string(text, static_cast<std::size_t>(lastIndex) + 1);
}

std::string composeJob(const std::string& jobText, bool keepPage, DrawSurface& surface) {
  GlyphBander bander(surface);
  std::string stream;
  compose(jobText, keepPage, stream, &bander);
  return stream;
}

bool printJob(Platform& platform, const char* text, std::int32_t lastIndex,
              std::uint32_t waitMs, std::int32_t keepPage) noexcept {
  if (text == nullptr && lastIndex >= 0) return false;
  try {
    // The port is held from the start of the call, through composition.
    std::unique_ptr<Port> port = platform.openPort();
    const std::string jobText = copyJobText(text, lastIndex);
    std::unique_ptr<DrawSurface> surface = platform.prepareSurface();
    const std::string stream = composeJob(jobText, keepPage != 0, *surface);
    return port->transfer(stream, waitMs);
  } catch (...) {
    return false;
  }
}

}  // namespace bspp
