// The example's page, rendered from a stream composed with a fixed glyph
// raster: every character where the layout puts it, and the rule for forms
// with Chinese lines kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "api/print_job.h"
#include "compose/draw_surface.h"
#include "preview/escp_render.h"
#include "preview/png_writer.h"
#include "preview_support.h"

namespace {

constexpr int kBoxWidth = 14;

// Raster rows 0-15 of dot column `dx` of a box: its outline and a diagonal.
std::uint16_t boxColumn(int dx) {
  if (dx == 0 || dx == kBoxWidth - 1) return 0xFFFF;
  return static_cast<std::uint16_t>(0x8001u | (1u << (dx * 15 / 13)));
}

// Draws every character as the same outlined, crossed 14 x 16 box, so the
// stream does not depend on the fonts installed.
class BoxSurface final : public bspp::DrawSurface {
 public:
  void clear() override { ink_.fill(0); }
  void draw(const bspp::GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      for (int dx = 0; dx < kBoxWidth; ++dx) {
        const int x = cells[i].x + dx;
        if (x >= bspp::kLineDots) break;
        auto& column = ink_[static_cast<std::size_t>(x)];
        column = static_cast<std::uint16_t>(column | boxColumn(dx));
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

// Copies the ink of the rectangle [x0, x1) x [y0, y1) of `from` onto `to`,
// moved by (dx, dy).
void stamp(bspp::preview::Page& to, const bspp::preview::Page& from, int x0, int y0, int x1,
           int y1, int dx, int dy) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (from.at(x, y) != bspp::preview::kInk) continue;
      to.pixels[static_cast<std::size_t>(y + dy) * static_cast<std::size_t>(to.width) +
                static_cast<std::size_t>(x + dx)] = bspp::preview::kInk;
    }
  }
}

// The example's page, composed with the box raster and rendered, read back
// by the layout rules: each text character in its cell, 80 columns to a
// line and lines 1/6 inch (12 pin rows) apart, each double-byte character a
// box over its two columns from 8 pin rows above its line's top; nothing
// anywhere else. The expected page is put together from pictures of each
// character alone, so a failure names the lines and columns that differ.
TEST(Golden, ExamplePageHoldsEveryCharacterInItsCellAndNothingElse) {
  using namespace bspp::preview;
  const std::string text = exampleText();
  ASSERT_EQ(text.size() % bspp::kLineColumns, 0u);
  BoxSurface surface;
  const Rendering r = renderAll(bspp::composeJob(text + std::string(1, '\0'), false, surface));
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(r.problems.empty());
  const Page& page = r.pages[0];
  // Each character is drawn as it prints alone at the top left; each pin of
  // a box as a single graphics dot prints there.
  std::map<char, Page> letters;
  const Page pin = renderAll(bytes("\x1BL\x01\x00\x80", 5)).pages.at(0);
  const int line = 12;  // pin rows from one line's top to the next
  // The feeds of a first line's bands have no line end before them to take
  // the place of, so that line's top is one line lower; the example's first
  // line holds Chinese characters.
  const int first = 12;
  // A character's glyph cell starts 5 dots into its first column, and its
  // 16 raster rows start 8 pin rows above its line's top.
  const int cellOffset = 5;
  const int rasterAbove = 8;
  Page expected = page;
  std::fill(expected.pixels.begin(), expected.pixels.end(), kPaper);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int top = first + line * static_cast<int>(i / bspp::kLineColumns);
    const int left = static_cast<int>(i % bspp::kLineColumns) * bspp::kDotsPerColumn;
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= bspp::kLeadByteMin) {
      for (int dx = 0; dx < kBoxWidth; ++dx) {
        for (int row = 0; row < 16; ++row) {
          if (((boxColumn(dx) >> row) & 1) == 0) continue;
          stamp(expected, pin, pixelX(0) - 3, 0, pixelX(1) + 3, pixelY(1) + 3,
                pixelX(left + cellOffset + dx) - pixelX(0), pixelY(top - rasterAbove + row));
        }
      }
      ++i;
    } else if (b != ' ') {
      ASSERT_TRUE(b > ' ' && b < 0x7F) << "byte " << i << " of the example";
      auto found = letters.find(text[i]);
      if (found == letters.end()) {
        found = letters.emplace(text[i], renderAll(std::string(1, text[i])).pages.at(0)).first;
      }
      stamp(expected, found->second, pixelX(0), 0, pixelX(bspp::kDotsPerColumn), pixelY(line),
            pixelX(left) - pixelX(0), pixelY(top));
    }
  }

  // Differences, by the text line and column whose cell they fall in.
  std::map<std::pair<int, int>, int> differing;
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.width; ++x) {
      if (page.at(x, y) == expected.at(x, y)) continue;
      const int pinRow = y / kPixelsPerUnit - first;
      const int dot = x / kPixelsPerDot - bspp::kLeftMarginDots;
      ++differing[{pinRow < 0 ? -1 : pinRow / line, dot < 0 ? -1 : dot / bspp::kDotsPerColumn}];
    }
  }
  std::string report;
  int shown = 0;
  for (const auto& [cell, pixels] : differing) {
    if (++shown > 10) break;
    report += "  near line " + std::to_string(cell.first + 1) + ", column " +
              std::to_string(cell.second) + ": " + std::to_string(pixels) + " pixels differ\n";
  }
  EXPECT_TRUE(differing.empty()) << differing.size() << " cells differ from the layout:\n"
                                 << report << "(the page is in golden-example.png)";
  // The picture is left in the working folder only to look at a failure.
  if (!differing.empty()) std::ofstream("golden-example.png", std::ios::binary) << encodePng(page);
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
  const auto page = bspp::preview::renderAll(bspp::composeJob(text + '\0', false, surface)).pages.at(0);
  for (std::size_t line = 1; line < chinese.size(); ++line) {
    const int top = 12 * static_cast<int>(line);
    EXPECT_FALSE(chinese[line] &&
                 anyInk(page, 0, bspp::preview::pixelY(top - 9), page.width, bspp::preview::pixelY(top)))
        << "line " << line + 1 << " of the example: its glyphs strike the line above";
  }
}

}  // namespace
