// Pictures on the 9-pin grid: the stream is read back by a small model of
// the printer (ESC A, ESC 2, ESC L, CR, LF, FF) and the ink found where the
// picture was.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dot_page.h"

namespace bspp::printer_app {
namespace {

// The box around the dots struck on one page, in dot columns from the left
// margin at 120 dpi and pin rows from the top at 72 dpi, and their number.
struct Struck {
  int minX = 1 << 20, maxX = -1, minY = 1 << 20, maxY = -1;
  std::size_t dots = 0;
};

// A page of `dpi` with a black rectangle, in inches from the paper's
// top-left corner, printed and struck.
Struck printRectangle(unsigned dpi, double left, double top, double width, double height) {
  const auto w = static_cast<unsigned>(8.5 * dpi), h = 11 * dpi;
  DotPage page(w, h, dpi, dpi);
  std::vector<unsigned char> line((w + 7) / 8);
  for (unsigned y = 0; y < h; ++y) {
    std::fill(line.begin(), line.end(), 0);
    for (unsigned x = 0; x < w && y >= top * dpi && y < (top + height) * dpi; ++x) {
      if (x >= left * dpi && x < (left + width) * dpi) line[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
    page.addLine(y, line.data());
  }
  const std::string s = page.finish();
  Struck out;
  int row = 0, spacing = 12, x = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s.at(k)); };
    if (s[i] == '\x1b' && s.at(i + 1) == 'A') {
      spacing = at(i + 2), i += 2;
      EXPECT_LE(spacing, 85) << "beyond a 9-pin printer's ESC A";
    } else if (s[i] == '\x1b' && s.at(i + 1) == '2') {
      spacing = 12, i += 1;
    } else if (s[i] == '\x1b' && s.at(i + 1) == 'L') {
      const int k = at(i + 2) + 256 * at(i + 3);
      for (int d = 0; d < k; ++d) {
        for (int pin = 0; pin < 8; ++pin) {
          if ((at(i + 4 + static_cast<std::size_t>(d)) & (0x80 >> pin)) == 0) continue;
          out.minX = std::min(out.minX, x + d), out.maxX = std::max(out.maxX, x + d);
          out.minY = std::min(out.minY, row + pin), out.maxY = std::max(out.maxY, row + pin);
          ++out.dots;
        }
      }
      x += k, i += 3 + static_cast<std::size_t>(k);
    } else if (s[i] == '\r' || s[i] == '\n') {
      s[i] == '\r' ? x = 0 : row += spacing;
    } else {
      EXPECT_TRUE(s[i] == '\f' && i + 1 == s.size()) << "unexpected byte " << at(i) << " at " << i;
    }
  }
  EXPECT_EQ(s.back(), '\f');
  return out;
}

TEST(DotPage, PictureKeepsItsSizeAndPlaceAndInkOffThePrintLineIsDropped) {
  for (unsigned dpi : {180u, 360u}) {
    SCOPED_TRACE(dpi);
    // One inch square, 2 inches from the left edge and 3 from the top; the
    // left margin is a quarter inch, so 2 in is dot 210 of the print line.
    const Struck page = printRectangle(dpi, 2.0, 3.0, 1.0, 1.0);
    EXPECT_NEAR(page.minX, 210, 1);
    EXPECT_NEAR(page.maxX, 210 + 119, 1);
    EXPECT_NEAR(page.minY, 3 * 72, 1);
    EXPECT_NEAR(page.maxY, 4 * 72 - 1, 1);
    EXPECT_GE(page.dots, 118u * 70u);  // solid black prints solid
  }
  // Half an inch past each edge of the 8-inch print line.
  const Struck wide = printRectangle(360, 0.0, 1.0, 8.5, 0.5);
  EXPECT_EQ(wide.minX, 0);
  EXPECT_EQ(wide.maxX, 959);
}

}  // namespace
}  // namespace bspp::printer_app
