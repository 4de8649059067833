// Helpers of the preview tests: where ink lands, by text cell.
#pragma once

#include <string>

#include "preview/escp_render.h"

namespace bspp::preview {

inline std::string bytes(const char* s, std::size_t n) { return std::string(s, n); }

// Ink anywhere in text column `col` on pin rows [top, top + pins).
inline bool inkInCell(const Page& p, int col, int top, int pins = 9, Ink ink = kInk) {
  return p.any(pixelX(col * kColumnDots), pixelY(top), pixelX((col + 1) * kColumnDots),
               pixelY(top + pins), ink);
}

}  // namespace bspp::preview
