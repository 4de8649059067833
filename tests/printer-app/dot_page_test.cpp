// Pictures on the 9-pin grid: the stream is read back by a small model of
// the printer (ESC A, CR, LF, ESC L, ESC 2, FF) and the ink found where the
// picture was.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dot_page.h"

namespace bspp::printer_app {
namespace {

// The dots a 9-pin printer strikes for one page: (dot column from the left
// margin at 120 dpi, pin row from the top at 72 dpi).
struct Struck {
  std::set<std::pair<int, int>> dots;
  bool endsPage = false;
  bool unknown = false;
};

Struck strike(const std::string& s) {
  Struck out;
  int row = 0;
  int spacing = 12;
  int x = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == 0x1B && i + 1 < s.size()) {
      const char c = s[i + 1];
      if (c == 'A' && i + 2 < s.size()) {
        spacing = static_cast<unsigned char>(s[i + 2]);
        EXPECT_LE(spacing, 85) << "beyond a 9-pin printer's ESC A";
        i += 2;
      } else if (c == '2') {
        spacing = 12;
        i += 1;
      } else if (c == 'L' && i + 3 < s.size()) {
        const int k = static_cast<unsigned char>(s[i + 2]) + 256 * static_cast<unsigned char>(s[i + 3]);
        for (int d = 0; d < k; ++d) {
          const auto v = static_cast<unsigned char>(s[i + 4 + static_cast<std::size_t>(d)]);
          for (int pin = 0; pin < 8; ++pin) {
            if ((v & (0x80 >> pin)) != 0) out.dots.insert({x + d, row + pin});
          }
        }
        x += k;
        i += 3 + static_cast<std::size_t>(k);
      } else {
        out.unknown = true;
      }
    } else if (b == '\r') {
      x = 0;
    } else if (b == '\n') {
      row += spacing;
    } else if (b == '\f') {
      out.endsPage = i + 1 == s.size();
    } else {
      out.unknown = true;
    }
  }
  return out;
}

// A page of `dpi` with a black rectangle, given in inches from the paper's
// top-left corner.
std::string printRectangle(unsigned dpi, double left, double top, double width, double height) {
  const unsigned w = static_cast<unsigned>(8.5 * dpi);
  const unsigned h = static_cast<unsigned>(11 * dpi);
  DotPage page(w, h, dpi, dpi);
  std::vector<unsigned char> line((w + 7) / 8);
  for (unsigned y = 0; y < h; ++y) {
    std::fill(line.begin(), line.end(), 0);
    if (y >= top * dpi && y < (top + height) * dpi) {
      for (unsigned x = 0; x < w; ++x) {
        if (x >= left * dpi && x < (left + width) * dpi) line[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      }
    }
    page.addLine(y, line.data());
  }
  return page.finish();
}

TEST(DotPage, PictureKeepsItsSizeAndPlaceOnThePage) {
  for (unsigned dpi : {180u, 300u, 360u}) {
    SCOPED_TRACE(dpi);
    // One inch square, 2 inches from the left edge and 3 from the top.
    const Struck page = strike(printRectangle(dpi, 2.0, 3.0, 1.0, 1.0));
    EXPECT_FALSE(page.unknown);
    EXPECT_TRUE(page.endsPage);
    ASSERT_FALSE(page.dots.empty());
    int minX = 10000, maxX = -1, minY = 10000, maxY = -1;
    for (const auto& [x, y] : page.dots) {
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    // The left margin is a quarter inch: 2 in is dot 210 of the print line.
    EXPECT_NEAR(minX, 210, 1);
    EXPECT_NEAR(maxX, 210 + 119, 1);
    EXPECT_NEAR(minY, 3 * 72, 1);
    EXPECT_NEAR(maxY, 4 * 72 - 1, 1);
    // Solid black prints solid.
    EXPECT_GE(page.dots.size(), static_cast<std::size_t>(118 * 70));
  }
}

TEST(DotPage, InkOutsideThePrintLineIsDropped) {
  // Half an inch past each edge of the 8-inch print line.
  const Struck page = strike(printRectangle(360, 0.0, 1.0, 8.5, 0.5));
  ASSERT_FALSE(page.dots.empty());
  EXPECT_EQ(page.dots.begin()->first, 0);
  EXPECT_EQ(page.dots.rbegin()->first <= 959, true);
  for (const auto& dot : page.dots) EXPECT_LT(dot.first, 960);
}

TEST(DotPage, BlankPageIsOnlyItsFormFeed) {
  EXPECT_EQ(printRectangle(180, 0, 0, 0, 0), std::string("\x1b" "2\f"));
}

}  // namespace
}  // namespace bspp::printer_app
