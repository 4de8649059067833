// The example's page, rendered from a stream composed with a fixed glyph
// raster, must not change unless the renderer is meant to.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "api/print_job.h"
#include "compose/draw_surface.h"
#include "preview/escp_render.h"
#include "preview/png_writer.h"

namespace {

// Draws every character as the same outlined, crossed 14 x 16 cell, so the
// stream does not depend on the fonts installed.
class BoxSurface final : public bspp::DrawSurface {
 public:
  void clear() override { ink_.fill(0); }
  void draw(const bspp::GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      for (int dx = 0; dx < 14; ++dx) {
        const int x = cells[i].x + dx;
        if (x >= bspp::kLineDots) break;
        auto& column = ink_[static_cast<std::size_t>(x)];
        column = static_cast<std::uint16_t>(column | 0x8001u | (1u << (dx * 15 / 13)));
        if (dx == 0 || dx == 13) column = 0xFFFF;
      }
    }
  }
  void readInk(bspp::InkColumns& ink) override { ink = ink_; }

 private:
  bspp::InkColumns ink_{};
};

std::string exampleText() {
  std::ifstream in(BSPP_EXAMPLES_DIR "/delivery-note.gb2312", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Golden, ExamplePage) {
  const std::string text = exampleText();
  BoxSurface surface;
  const std::string stream = bspp::composeJob(text + std::string(1, '\0'), false, surface);
  const bspp::preview::Rendering r = bspp::preview::render(stream);
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(r.problems.empty());
  // The picture is left in the build folder to look at when this fails.
  std::ofstream("golden-example.png", std::ios::binary) << bspp::preview::encodePng(r.pages[0]);
  EXPECT_EQ(bspp::preview::digest(r.pages[0]), 0xfa6052c756452595ull) << std::hex << bspp::preview::digest(r.pages[0]);
}

// A line with Chinese characters prints them from 8 pin rows above its
// text's top: the line above must print nothing there, nor on the pin row
// just above (dots of neighbouring rows touch).
TEST(Golden, NoTextOfTheExampleLiesWhereTheGlyphsAboveALineReach) {
  std::string text = exampleText();
  std::vector<bool> chinese(text.size() / 80);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) < 0xA0) continue;
    chinese[i / 80] = true;  // the line keeps its text, without the glyphs
    text[i] = text[i + 1] = ' ', ++i;
  }
  BoxSurface surface;
  const auto page = bspp::preview::render(bspp::composeJob(text + '\0', false, surface)).pages.at(0);
  for (std::size_t line = 1; line < chinese.size(); ++line) {
    const int top = 12 * static_cast<int>(line);
    EXPECT_FALSE(chinese[line] &&
                 page.any(0, bspp::preview::pixelY(top - 9), page.width, bspp::preview::pixelY(top)))
        << "line " << line + 1 << " of the example: its glyphs strike the line above";
  }
}

}  // namespace
