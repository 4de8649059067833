// Drawing surfaces whose ink is known exactly, for the tests.
#pragma once

#include <functional>
#include <vector>

#include "compose/draw_surface.h"

namespace bspp::test {

// Each drawn cell inks the pixels for which `pattern(dx, row)` is true, dx
// being the distance from the cell's left edge (0..15), row 0..15. clear()
// wipes everything.
class FakeSurface final : public DrawSurface {
 public:
  using Pattern = std::function<bool(int dx, int row)>;
  explicit FakeSurface(Pattern pattern, int cellWidth = 16)
      : pattern_(std::move(pattern)), cellWidth_(cellWidth) {}

  void clear() override {
    ++clears;
    ink_.fill(0);
  }
  void draw(const GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      drawn.push_back(cells[i]);
      for (int dx = 0; dx < cellWidth_; ++dx) {
        const int x = cells[i].x + dx;
        if (x < 0 || x >= kLineDots) continue;
        for (int row = 0; row < kBandRows; ++row) {
          if (pattern_(dx, row)) ink_[static_cast<std::size_t>(x)] |= static_cast<std::uint16_t>(1u << row);
        }
      }
    }
  }
  void readInk(InkColumns& ink) override { ink = ink_; }

  std::vector<GlyphCell> drawn;
  int clears = 0;

 private:
  Pattern pattern_;
  int cellWidth_;
  InkColumns ink_{};
};

// A surface that never inks: bands keep their place in the stream but
// carry blank dots, whatever fonts the machine has.
class BlankSurface final : public DrawSurface {
 public:
  void clear() override {}
  void draw(const GlyphCell*, std::size_t) override {}
  void readInk(InkColumns& ink) override { ink.fill(0); }
};

}  // namespace bspp::test
