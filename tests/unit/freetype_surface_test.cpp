// The Linux glyph raster with the fonts installed on this machine.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/print_job.h"
#include "compose/font_lookup.h"
#include "compose/glyph_bander.h"
#include "compose/glyph_surface.h"

namespace bspp {
namespace {

// Fontconfig keeps its configuration for the life of the process; hand it
// back at the end so that leak checkers see only what the surface leaves.
class FontconfigRelease final : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
[[maybe_unused]] ::testing::Environment* const kFontconfigRelease =
    ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

// A character cell at 16 pixels: the glyph stays inside its em square.
constexpr int kCellWidth = 16;

class FreeTypeSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (songFontCandidates().empty()) GTEST_SKIP() << "no font covering simplified Chinese";
    surface_ = prepareGlyphSurface();
    ASSERT_EQ(dynamic_cast<BlankSurface*>(surface_.get()), nullptr)
        << "a Chinese font is installed, but no surface could be prepared with it";
  }

  InkColumns drawn(const std::vector<GlyphCell>& cells, bool clearFirst = true) {
    if (clearFirst) surface_->clear();
    surface_->draw(cells.data(), cells.size());
    InkColumns ink{};
    surface_->readInk(ink);
    return ink;
  }

  // Dot columns whose ink lies outside the cells of `cells`.
  static std::vector<int> strayColumns(const InkColumns& ink, const std::vector<GlyphCell>& cells) {
    std::vector<int> stray;
    for (int x = 0; x < kLineDots; ++x) {
      bool inCell = false;
      for (const GlyphCell& c : cells) inCell = inCell || (x >= c.x && x < c.x + kCellWidth);
      if (!inCell && ink[static_cast<std::size_t>(x)] != 0) stray.push_back(x);
    }
    return stray;
  }

  static bool inkedBetween(const InkColumns& ink, int from, int to, std::uint16_t rows) {
    for (int x = from; x < to; ++x) {
      if (ink[static_cast<std::size_t>(x)] & rows) return true;
    }
    return false;
  }

  std::unique_ptr<DrawSurface> surface_;
};

constexpr std::uint16_t kBand0Rows = 0x00FF;
constexpr std::uint16_t kBand1Rows = 0xFF00;

TEST_F(FreeTypeSurfaceTest, CharacterInColumnZeroInksBothBandsInsideItsCell) {
  const std::vector<GlyphCell> cells{{0xB0, 0xA1, cellX(0)}};  // 啊
  const InkColumns ink = drawn(cells);
  EXPECT_TRUE(inkedBetween(ink, 5, 21, kBand0Rows));
  EXPECT_TRUE(inkedBetween(ink, 5, 21, kBand1Rows));
  EXPECT_EQ(strayColumns(ink, cells), std::vector<int>{});
}

TEST_F(FreeTypeSurfaceTest, FullLineInksEveryCellAndNothingElse) {
  // 40 different characters from 啊 on, in columns 0, 2, ..., 78.
  std::vector<GlyphCell> cells;
  for (int i = 0; i < 40; ++i) {
    cells.push_back({0xB0, static_cast<unsigned char>(0xA1 + i), cellX(2 * i)});
  }
  const InkColumns ink = drawn(cells);
  for (const GlyphCell& c : cells) {
    EXPECT_TRUE(inkedBetween(ink, c.x, c.x + kCellWidth, 0xFFFF)) << "no ink in the cell at " << c.x;
  }
  EXPECT_EQ(strayColumns(ink, cells), std::vector<int>{});
}

TEST_F(FreeTypeSurfaceTest, PairsTheCodePageDoesNotMapDrawNothing) {
  const std::vector<GlyphCell> ah{{0xB0, 0xA1, cellX(0)}};
  const InkColumns before = drawn(ah);
  // A lead byte with 00 (end of text), a trail the code page rejects, a byte
  // that leads no pair, and two bytes that read as two characters: none may
  // draw a glyph, nor paint its cell over the ink already there.
  const std::vector<GlyphCell> unmapped{{0xB0, 0x00, cellX(0)},
                                        {0xB0, 0x7F, cellX(0)},
                                        {0xFF, 0xA1, cellX(0)},
                                        {0x80, 0x41, cellX(0)}};
  EXPECT_EQ(drawn(unmapped, /*clearFirst=*/false), before);
  EXPECT_EQ(drawn(unmapped), InkColumns{});
}

TEST_F(FreeTypeSurfaceTest, CellPaintsOverEarlierInk) {
  const std::vector<GlyphCell> one{{0xD2, 0xBB, cellX(0)}};  // 一
  const InkColumns alone = drawn(one);

  // 啊 first, then 一 in the same cell: only 一 remains.
  drawn({{0xB0, 0xA1, cellX(0)}});
  EXPECT_EQ(drawn(one, /*clearFirst=*/false), alone);

  // Half a cell over 啊: its left half survives, the rest is the new cell's.
  const InkColumns ah = drawn({{0xB0, 0xA1, cellX(0)}});
  const InkColumns overlap = drawn({{0xD2, 0xBB, cellX(0) + 8}}, /*clearFirst=*/false);
  const InkColumns shifted = drawn({{0xD2, 0xBB, cellX(0) + 8}});
  for (int x = 0; x < 40; ++x) {
    const auto i = static_cast<std::size_t>(x);
    EXPECT_EQ(overlap[i], x < cellX(0) + 8 ? ah[i] : shifted[i]) << "column " << x;
  }
}

TEST_F(FreeTypeSurfaceTest, CellsAtTheRasterEdgesAreClipped) {
  // Column 79 reaches past dot 959; a cell left of dot 0 is cut at 0.
  const InkColumns right = drawn({{0xB0, 0xA1, cellX(79)}});
  EXPECT_TRUE(inkedBetween(right, cellX(79), kLineDots, 0xFFFF));
  EXPECT_FALSE(inkedBetween(right, 0, cellX(79), 0xFFFF));

  const InkColumns left = drawn({{0xB0, 0xA1, -8}});
  EXPECT_TRUE(inkedBetween(left, 0, 8, 0xFFFF));
  EXPECT_FALSE(inkedBetween(left, 8, kLineDots, 0xFFFF));
}

TEST_F(FreeTypeSurfaceTest, ClearWipesTheLine) {
  drawn({{0xB0, 0xA1, cellX(0)}, {0xB0, 0xA2, cellX(40)}});
  EXPECT_EQ(drawn({}), InkColumns{});
}

// The stream of a job, as the print call composes it with the real raster.
TEST_F(FreeTypeSurfaceTest, ComposedJobCarriesBandsOfTheCharacter) {
  // A B 啊 C, 75 blanks, then a NUL: the character in column 2 (x = 29).
  const std::string text = "AB\xB0\xA1" "C" + std::string(75, ' ') + std::string(1, '\0');
  const std::string stream = composeJob(text, /*keepPage=*/false, *surface_);

  const std::string band0Header("\x1B\x41\x04\x0D\x0A\x1B\x4C\x30\x00", 9);
  const std::string band1Header("\x1B\x41\x08\x0D\x0A\x1B\x4C\x30\x00", 9);
  const std::string tail = std::string("\x0D" "AB  C") + "\x1B\x32\x0D\x0A" "\x1B\x32\x0D\x0A" "\x0C";
  ASSERT_EQ(stream.size(), 9 + 48 + 9 + 48 + tail.size());
  EXPECT_EQ(stream.substr(0, 9), band0Header);
  EXPECT_EQ(stream.substr(57, 9), band1Header);
  EXPECT_EQ(stream.substr(114), tail);

  // Each band has ink, and only in the character's dot columns 29 to 44.
  for (const std::size_t data : {std::size_t{9}, std::size_t{66}}) {
    bool inked = false;
    for (std::size_t x = 0; x < 48; ++x) {
      const bool dot = stream[data + x] != '\0';
      inked = inked || dot;
      if (x < 29 || x > 44) {
        EXPECT_FALSE(dot) << "band data at " << data << ", column " << x;
      }
    }
    EXPECT_TRUE(inked) << "band data at " << data;
  }
}

}  // namespace
}  // namespace bspp
