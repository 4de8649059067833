// The Linux glyph raster with the fonts installed on this machine.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "api/print_job.h"
#include "compose/font_lookup.h"
#include "compose/freetype_surface.h"
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
    // The call's own surface draws with the installed fonts: 啊 inks
    // something and is not missed.
    const InkColumns ink = drawn({{0xB0, 0xA1, cellX(0)}});
    ASSERT_TRUE(std::any_of(ink.begin(), ink.end(), [](std::uint16_t c) { return c != 0; }) &&
                !surface_->missedGlyph())
        << "a Chinese font is installed, but the surface does not draw with it";
    surface_ = prepareGlyphSurface();  // each test starts with a fresh one
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

// A glyph's ink as rows of dots, left to right in the low bits, with the
// empty rows and columns around it cut off: its shape, wherever it was drawn.
using Shape = std::vector<std::uint64_t>;

Shape trimmed(std::vector<std::uint64_t> rows) {
  while (!rows.empty() && rows.back() == 0) rows.pop_back();
  while (!rows.empty() && rows.front() == 0) rows.erase(rows.begin());
  std::uint64_t all = 0;
  for (std::uint64_t r : rows) all |= r;
  for (; all != 0 && (all & 1u) == 0; all >>= 1) {
    for (std::uint64_t& r : rows) r >>= 1;
  }
  return rows;
}

// What FreeType itself draws with `font` at 16 pixels, in 1-bit monochrome.
class ReferenceFace {
 public:
  explicit ReferenceFace(const FontFace& font) {
    sized_ = FT_Init_FreeType(&lib_) == 0 &&
             FT_New_Face(lib_, font.path.c_str(), font.index, &face_) == 0 &&
             FT_Set_Pixel_Sizes(face_, 0, 16) == 0;
  }
  ~ReferenceFace() {
    if (face_ != nullptr) FT_Done_Face(face_);
    if (lib_ != nullptr) FT_Done_FreeType(lib_);
  }
  ReferenceFace(const ReferenceFace&) = delete;
  ReferenceFace& operator=(const ReferenceFace&) = delete;

  // The shape of `ch`; empty when the face draws nothing for it.
  Shape shape(char32_t ch) const {
    if (!sized_ || FT_Get_Char_Index(face_, ch) == 0 ||
        FT_Load_Char(face_, ch, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0 ||
        face_->glyph->bitmap.pixel_mode != FT_PIXEL_MODE_MONO) {
      return {};
    }
    const FT_Bitmap& b = face_->glyph->bitmap;
    Shape rows(b.rows, 0);
    for (unsigned r = 0; r < b.rows; ++r) {
      const unsigned char* line = b.buffer + static_cast<std::ptrdiff_t>(r) * b.pitch;
      for (unsigned c = 0; c < b.width && c < 64; ++c) {
        if ((unsigned{line[c / 8]} >> (7u - c % 8u)) & 1u) rows[r] |= std::uint64_t{1} << c;
      }
    }
    return trimmed(rows);
  }

 private:
  FT_Library lib_ = nullptr;
  FT_Face face_ = nullptr;
  bool sized_ = false;
};

// The character a GB2312 pair stands for, by the system's converter.
char32_t unicodeOf(unsigned lead, unsigned trail) {
  iconv_t cd = iconv_open("UTF-32LE", "GB2312");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  unsigned char out[4] = {};
  char* inPtr = in;
  char* outPtr = reinterpret_cast<char*>(out);
  std::size_t inLeft = 2, outLeft = 4;
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == 0 && outLeft == 0;
  iconv_close(cd);
  return ok ? static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24) : 0;
}

// What the surface draws for one character alone, at the start of a line.
Shape surfaceShape(DrawSurface& surface, unsigned lead, unsigned trail) {
  const auto byte = [](unsigned b) { return static_cast<unsigned char>(b); };
  const GlyphCell cell{byte(lead), byte(trail), cellX(0)};
  surface.clear();
  surface.draw(&cell, 1);
  InkColumns ink{};
  surface.readInk(ink);
  Shape rows(kBandRows, 0);
  for (unsigned r = 0; r < kBandRows; ++r) {
    for (unsigned c = 0; c < 64; ++c) {
      if ((unsigned{ink[c]} >> r) & 1u) rows[r] |= std::uint64_t{1} << c;
    }
  }
  return trimmed(rows);
}

// Whatever face is installed, characters with strokes at the very top and
// bottom of the em (王 上 量 送 整 且) keep every row of ink FreeType draws for
// them; with the face the library picks first, every character of GB2312 does.
TEST_F(FreeTypeSurfaceTest, CharactersKeepEveryRowOfInkFreeTypeDraws) {
  const unsigned tall[] = {0xCDF5, 0xC9CF, 0xC1BF, 0xCBCD, 0xD5FB, 0xC7D2};
  ASSERT_EQ(unicodeOf(0xCD, 0xF5), U'\u738B');
  const std::vector<FontFace> faces = songFontCandidates();
  for (std::size_t f = 0; f < faces.size(); ++f) {
    auto surface = prepareFreeTypeSurface({faces[f]});
    const ReferenceFace reference(faces[f]);
    for (unsigned pair = 0xA1A1; pair <= 0xF7FE; ++pair) {
      const bool isTall = std::find(std::begin(tall), std::end(tall), pair) != std::end(tall);
      if ((pair & 0xFF) < 0xA1 || (pair & 0xFF) == 0xFF || (f > 0 && !isTall)) continue;
      const Shape expected = reference.shape(unicodeOf(pair >> 8, pair & 0xFF));
      if (expected.empty()) continue;  // the face draws nothing for it
      EXPECT_EQ(surfaceShape(*surface, pair >> 8, pair & 0xFF), expected)
          << faces[f].path << " #" << faces[f].index << ", pair " << std::hex << pair;
    }
  }
}

TEST(FreeTypeMissedGlyphs, MissedOnlyWhenNoFaceHasAMappedCharacter) {
  auto none = prepareFreeTypeSurface({});
  // Pairs the code page does not map draw nothing, silently.
  const std::vector<GlyphCell> unmapped{{0xB0, 0x00, cellX(0)}, {0xFF, 0xA1, cellX(2)},
                                        {0xAA, 0xA1, cellX(4)}};
  none->draw(unmapped.data(), unmapped.size());
  EXPECT_FALSE(none->missedGlyph());
  EXPECT_TRUE(surfaceShape(*none, 0xB0, 0xA1).empty());
  EXPECT_TRUE(none->missedGlyph());

  // A character missing from the first face comes from the next.
  const FontFace latin{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
  const std::vector<FontFace> chinese = songFontCandidates();
  if (::access(latin.path.c_str(), R_OK) != 0 || chinese.empty()) {
    GTEST_SKIP() << "needs DejaVu Sans and a Chinese font";
  }
  auto both = prepareFreeTypeSurface({latin, chinese.front()});
  auto chineseOnly = prepareFreeTypeSurface({chinese.front()});
  const Shape ah = surfaceShape(*both, 0xB0, 0xA1);
  EXPECT_FALSE(ah.empty());
  EXPECT_EQ(ah, surfaceShape(*chineseOnly, 0xB0, 0xA1));
  EXPECT_FALSE(both->missedGlyph());
}

}  // namespace
}  // namespace bspp
