// Helpers of the preview tests: every page of a short stream, and where ink
// lands, by rectangle and by text cell.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "preview/escp_render.h"

namespace bspp::preview {

inline std::string bytes(const char* s, std::size_t n) { return std::string(s, n); }

// All pages of a short stream, kept, with its problems.
struct Rendering {
  std::vector<Page> pages;
  std::vector<Problem> problems;
};

inline Rendering renderAll(std::string_view stream, const RenderOptions& options = {}) {
  Rendering r;
  const RenderSummary s = render(stream, options, [&r](const Page& page, std::size_t) {
    r.pages.push_back(page);
    return true;
  });
  r.problems = s.problems;
  return r;
}

// True when any pixel of the rectangle [x0, x1) x [y0, y1) holds `ink`.
inline bool anyInk(const Page& p, int x0, int y0, int x1, int y1, Ink ink = kInk) {
  for (int y = std::max(y0, 0); y < std::min(y1, p.height); ++y) {
    for (int x = std::max(x0, 0); x < std::min(x1, p.width); ++x) {
      if (p.at(x, y) == ink) return true;
    }
  }
  return false;
}

// Ink anywhere in text column `col` on pin rows [top, top + pins).
inline bool inkInCell(const Page& p, int col, int top, int pins = 9, Ink ink = kInk) {
  return anyInk(p, pixelX(col * kDotsPerColumn), pixelY(top), pixelX((col + 1) * kDotsPerColumn),
                pixelY(top + pins), ink);
}

}  // namespace bspp::preview
