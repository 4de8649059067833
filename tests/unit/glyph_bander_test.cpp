// Band records: width, header bytes, bit order, and where they enter the stream.
#include <gtest/gtest.h>

#include <random>

#include "api/print_job.h"
#include "compose/glyph_bander.h"
#include "fake_surface.h"
#include "test_support.h"

namespace bspp {
namespace {

using test::bytes;
using test::FakeSurface;
using test::kLT;

std::string bandHeader(char spacing, int k) {
  return std::string{'\x1B', 'A', spacing, '\x0D', '\x0A', '\x1B', 'L',
                     static_cast<char>(k % 256), static_cast<char>(k / 256)};
}

LineGlyphs line(std::initializer_list<int> columns) {
  LineGlyphs glyphs;
  std::size_t i = 0;
  for (int c : columns) {
    glyphs.bytes += "\xB0\xA1";
    glyphs.columns[i++] = static_cast<std::uint8_t>(c);
  }
  return glyphs;
}

TEST(GlyphBands, RowsMapToBandsTopDotInBit7) {
  // One inked pixel per row r, in dot column 5 + r of the cell at x = 5.
  FakeSurface surface([](int dx, int row) { return dx == row; });
  GlyphBander bander(surface);
  std::string stream;
  bander.appendBands(line({0}), stream);

  const int k = 24;
  ASSERT_EQ(stream.size(), 2 * (9 + k) + 1u);
  const std::string band0 = stream.substr(9, k);
  const std::string band1 = stream.substr(9 + k + 9, k);
  for (int x = 0; x < k; ++x) {
    const int row = x - 5;  // the row inked in this dot column, if any
    const auto expect0 = static_cast<char>(row >= 0 && row < 8 ? 0x80 >> row : 0);
    const auto expect1 = static_cast<char>(row >= 8 && row < 16 ? 0x80 >> (row - 8) : 0);
    EXPECT_EQ(band0[static_cast<std::size_t>(x)], expect0) << "dot column " << x;
    EXPECT_EQ(band1[static_cast<std::size_t>(x)], expect1) << "dot column " << x;
  }
}

TEST(GlyphBands, WidthReachesTheLastCharactersSecondColumn) {
  FakeSurface surface([](int, int) { return true; });
  GlyphBander bander(surface);

  std::string first;
  bander.appendBands(line({0}), first);
  EXPECT_EQ(first.substr(0, 9), bandHeader('\x04', 24));
  EXPECT_EQ(first.substr(9 + 24, 9), bandHeader('\x08', 24));
  EXPECT_EQ(first.back(), '\x0D');

  std::string last;
  bander.appendBands(line({10, 79}), last);
  const int k = 972;
  ASSERT_EQ(last.size(), 2 * (9 + k) + 1u);
  EXPECT_EQ(last.substr(0, 9), bandHeader('\x04', k));
  EXPECT_EQ(last.substr(0, 9), bytes("\x1B\x41\x04\x0D\x0A\x1B\x4C\xCC\x03"));
  for (std::size_t band : {0u, 1u}) {
    const std::string data = last.substr(9 + band * (9 + k), k);
    // The cell at x = 953 is inked up to the raster's edge; the 12 dot
    // columns past it are blank.
    EXPECT_EQ(data.substr(953, 7), std::string(7, '\xFF'));
    EXPECT_EQ(data.substr(960), std::string(12, '\0'));
  }
  EXPECT_EQ(surface.clears, 2);
}

TEST(GlyphBands, DrawsEachCharacterAtItsColumn) {
  FakeSurface surface([](int, int) { return false; });
  GlyphBander bander(surface);
  LineGlyphs glyphs;
  glyphs.bytes = bytes("\xB0\xA1\xC4\0");
  glyphs.columns[0] = 10;
  glyphs.columns[1] = 12;
  std::string stream;
  bander.appendBands(glyphs, stream);
  ASSERT_EQ(surface.drawn.size(), 2u);
  EXPECT_EQ(surface.drawn[0].x, 125);
  EXPECT_EQ(surface.drawn[1].x, 149);
  EXPECT_EQ(surface.drawn[1].lead, 0xC4);
  EXPECT_EQ(surface.drawn[1].trail, 0x00);
}

TEST(GlyphBands, ReplaceOnlyALineTerminatorThatEndsTheStream) {
  FakeSurface surface([](int, int) { return false; });
  GlyphBander bander(surface);

  std::string afterText = "text" + kLT;
  bander.appendBands(line({0}), afterText);
  EXPECT_EQ(afterText.substr(0, 4 + 9), "text" + bandHeader('\x04', 24));

  // A stream that is one terminator only is left alone.
  std::string blankFirst = kLT;
  bander.appendBands(line({0}), blankFirst);
  EXPECT_EQ(blankFirst.substr(0, 4 + 9), kLT + bandHeader('\x04', 24));

  std::string other = "text\x1B\x32\x0D";
  bander.appendBands(line({0}), other);
  EXPECT_EQ(other.substr(0, 7 + 9), "text\x1B\x32\x0D" + bandHeader('\x04', 24));
}

TEST(GlyphBands, BandDataThatLooksLikeATerminatorIsKept) {
  // Band 0's last four data bytes are 1B 32 0D 0A: band 1 must still follow
  // them whole.
  const int k = 24;
  FakeSurface surface([](int dx, int row) {
    const int x = 5 + dx;
    const unsigned tail[] = {0x1B, 0x32, 0x0D, 0x0A};
    if (row >= 8 || x < k - 4 || x >= k) return false;
    return ((tail[x - (k - 4)] >> (7 - row)) & 1u) != 0;
  }, 24);
  GlyphBander bander(surface);
  std::string stream;
  bander.appendBands(line({0}), stream);
  ASSERT_EQ(stream.size(), 2 * (9 + k) + 1u);
  EXPECT_EQ(stream.substr(9 + k - 4, 4), kLT);
  EXPECT_EQ(stream.substr(9 + k, 9), bandHeader('\x08', k));
}

TEST(GlyphBands, WorkedJobByteForByte) {
  // A B, the character B0 A1, C, 75 blanks, then a NUL; keepPage 0.
  FakeSurface surface([](int dx, int row) { return dx == 0 || row == 15; });
  std::string text = "AB\xB0\xA1" "C";
  text += std::string(75, ' ');
  text += '\0';
  ASSERT_EQ(text.size(), 81u);
  const std::string stream = composeJob(text, false, surface);

  // Cell at x = 29: column 29 inked in every row, row 15 inked in 29..44.
  std::string band0(48, '\0'), band1(48, '\0');
  band0[29] = '\xFF';
  band1[29] = '\xFF';
  for (int x = 30; x < 45; ++x) band1[static_cast<std::size_t>(x)] = '\x01';
  const std::string expected = bytes("\x1B\x41\x04\x0D\x0A\x1B\x4C\x30\x00") + band0 +
                               bytes("\x1B\x41\x08\x0D\x0A\x1B\x4C\x30\x00") + band1 + "\x0D" +
                               "AB  C" + kLT + kLT + "\x0C";
  EXPECT_EQ(stream, expected);
  ASSERT_EQ(surface.drawn.size(), 1u);
  EXPECT_EQ(surface.drawn[0].x, 29);
}

TEST(GlyphBands, EachLineStartsFromAClearRasterAndTextLinesNeverDraw) {
  FakeSurface surface([](int, int) { return true; });
  std::string text(80, 'a');
  text += "\xB0\xA1";
  text += std::string(78, 'b');
  text += std::string(20, ' ') + "\xB0\xA1";
  text += std::string(58, 'c');
  const std::string stream = composeJob(text, true, surface);
  EXPECT_EQ(surface.clears, 2);
  EXPECT_EQ(surface.drawn.size(), 2u);
  // Second line's bands replace the first text line's terminator and
  // carry only its own character's ink (dot columns 245..260).
  const std::size_t second = stream.find(bandHeader('\x04', 22 * 12), 1);
  ASSERT_NE(second, std::string::npos);
  const std::string band0 = stream.substr(second + 9, 22 * 12);
  EXPECT_EQ(band0.find_first_not_of('\0'), 245u);
  EXPECT_EQ(band0.find_last_not_of('\0'), 260u);
}

// A job composed in pieces, and taken out piece by piece, is the same stream:
// also where a line's bands replace the terminator of a line taken out
// before, and where a blank first line (a stream of one terminator) keeps it.
TEST(GlyphBands, ComposingInPiecesGivesTheSameStream) {
  FakeSurface surface([](int dx, int row) { return (dx + row) % 3 == 0; });
  std::mt19937 rng(2024);
  const std::string alphabet = bytes(" \0ab\n\xA0\xB0\xA1\xFF");
  std::vector<std::string> texts = {std::string(80, ' ') + "\xB0\xA1",
                                    std::string(80, 'x') + "\xB0\xA1" + std::string(78, ' ')};
  for (int round = 0; round < 400; ++round) {
    std::string text(rng() % 500, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    for (bool keep : {false, true}) {
      GlyphBander bander(surface);
      LineComposer composer(&bander);
      std::string pieces;
      std::size_t at = 0;
      while (at < text.size()) {
        const std::size_t n = std::min<std::size_t>(text.size() - at, rng() % 100);
        composer.add(std::string_view(text).substr(at, n));
        at += n;
        if (rng() % 2 == 0) composer.take(pieces);
      }
      composer.close(keep);
      composer.take(pieces);
      ASSERT_EQ(pieces, composeJob(text, keep, surface)) << "text of " << text.size() << " bytes";
    }
  }
}

}  // namespace
}  // namespace bspp
