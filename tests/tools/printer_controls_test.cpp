// The preview acts on the control codes and ESC/P commands a 9-pin printer
// acts on, and draws red boxes only for what such a printer does not know.
#include <gtest/gtest.h>

#include <string>

#include "preview/escp_render.h"

namespace bspp::preview {
namespace {

std::string bytes(const char* s, std::size_t n) { return std::string(s, n); }

// Ink anywhere in text column `col` on pin rows [top, top + pins).
bool inkInCell(const Page& p, int col, int top, int pins = 9, Ink ink = kInk) {
  return p.any(pixelX(col * kColumnDots), pixelY(top), pixelX((col + 1) * kColumnDots),
               pixelY(top + pins), ink);
}

// Text columns of line `top` with ink, as a string of '#' and '.'.
std::string inkedColumns(const Page& p, int top, int columns = 12) {
  std::string s;
  for (int c = 0; c < columns; ++c) s += inkInCell(p, c, top) ? '#' : '.';
  return s;
}

TEST(PrinterControls, CrLfLineBreaksInsideTheTextPrintAsThePrinterDoes) {
  // A host's "AB\r\nCD" is one record to the library ("AB", CR, LF, "CD",
  // blanks cut) and its line end follows: the printer starts a line at CR LF
  // and another at the line end, so "EF" lands a line lower than meant.
  const Rendering r = render("AB\r\nCD\x1B" "2\r\nEF\x1B" "2\r\n");
  ASSERT_TRUE(r.problems.empty());
  const Page& p = r.pages[0];
  EXPECT_EQ(inkedColumns(p, 0), "##..........");
  EXPECT_EQ(inkedColumns(p, 12), "##..........");
  EXPECT_EQ(inkedColumns(p, 24), "##..........");
  EXPECT_FALSE(p.any(0, pixelY(33), p.width, p.height));
  EXPECT_FALSE(p.any(0, 0, p.width, p.height, kMarker));
}

TEST(PrinterControls, TabsBackspaceNulAndDel) {
  EXPECT_EQ(inkedColumns(render("A\tB").pages[0], 0, 18), "#.......#.........");
  EXPECT_EQ(inkedColumns(render("ABCDEFGHI\tJ").pages[0], 0, 18), "#########.......#.");
  // ESC D sets tab stops at columns 3 and 5.
  EXPECT_EQ(inkedColumns(render(bytes("\x1B" "D\x03\x05\x00" "A\tB\tC", 10)).pages[0], 0, 8),
            "#..#.#..");
  // Backspace overprints the column before; at the left margin it does nothing.
  EXPECT_EQ(inkedColumns(render("\bAB\b\bX").pages[0], 0, 4), "##..");
  const Rendering r = render(bytes("\x00" "A\x7F" "B\x00", 5));
  EXPECT_EQ(inkedColumns(r.pages[0], 0, 4), "##..");
  EXPECT_TRUE(r.problems.empty());
  EXPECT_FALSE(r.pages[0].any(0, 0, r.pages[0].width, r.pages[0].height, kMarker));
}

TEST(PrinterControls, VerticalTabIsALineFeedUntilTabsAreSet) {
  EXPECT_TRUE(inkInCell(render("A\vB").pages[0], 0, 12));
  // ESC B 5 NUL: a stop at line 5 (60/72 in); VT goes there.
  const Page p = render(bytes("\x1B" "B\x05\x00" "A\vB", 7)).pages[0];
  EXPECT_TRUE(inkInCell(p, 0, 60));
  EXPECT_FALSE(p.any(0, pixelY(10), p.width, pixelY(59)));
  // ESC B NUL cancels every stop: VT is then a carriage return only.
  EXPECT_EQ(inkedColumns(render(bytes("\x1B" "B\x00" "AB\vX", 7)).pages[0], 0, 3), "##.");
}

TEST(PrinterControls, UpperHalfControlCodesActAndA0ToFEPrint) {
  const Rendering r = render("A\x8A" "B\xC1");  // 8A is LF again; C1 an italic A
  EXPECT_TRUE(inkInCell(r.pages[0], 0, 12));
  EXPECT_TRUE(inkInCell(r.pages[0], 1, 12));
  EXPECT_TRUE(r.problems.empty());
}

TEST(PrinterControls, FeedsInSteps0f216InchAndReset) {
  // ESC J 36 feeds 1/6 in at once, without a carriage return.
  const Page p = render(bytes("A\x1BJ\x24" "B", 5)).pages[0];
  EXPECT_EQ(inkedColumns(p, 12, 3), ".#.");
  // ESC 3 18: lines 1/12 in apart; ESC @ restores 1/6 in.
  EXPECT_TRUE(inkInCell(render(bytes("\x1B" "3\x12" "A\nB", 6)).pages[0], 0, 6, 3));
  EXPECT_TRUE(inkInCell(render(bytes("\x1B" "A\x1E\x1B@A\nB", 8)).pages[0], 0, 12, 3));
  EXPECT_TRUE(render(bytes("\x1B" "3\x12\x1BJ\x05\x1B@", 8)).problems.empty());
}

TEST(PrinterControls, GraphicsAtEveryDensity) {
  // Dot columns 0 and 2 fire the top pin: the second mark lands 2/density
  // inch after the first (pixels at 360 dpi).
  auto pitch = [](const std::string& s) {
    const Page p = render(s).pages[0];
    int first = -1;
    for (int x = 0; x < p.width; ++x) {
      if (p.at(x, 0) != kInk) continue;
      if (first < 0) first = x;
      else if (p.at(x - 1, 0) == kPaper) return x - first;
    }
    return -1;
  };
  const std::string three = bytes("\x03\x00\x80\x00\x80", 5);
  EXPECT_EQ(pitch("\x1BK" + three), 12);  // 60 dpi
  EXPECT_EQ(pitch("\x1BL" + three), 6);   // 120 dpi
  EXPECT_EQ(pitch("\x1BY" + three), 6);
  EXPECT_EQ(pitch("\x1B*" + bytes("\x00", 1) + three), 12);
  EXPECT_EQ(pitch("\x1B*\x04" + three), 9);   // 80 dpi
  EXPECT_EQ(pitch("\x1B*\x05" + three), 10);  // 72 dpi
  EXPECT_EQ(pitch("\x1B*\x06" + three), 8);   // 90 dpi
  // ESC ? L 0 makes ESC L draw at 60 dpi.
  EXPECT_EQ(pitch(bytes("\x1B?L\x00", 4) + "\x1BL" + three), 12);
  // ESC Z at 240 dpi: four columns take the width of two at 120 dpi.
  const Page z = render(bytes("\x1BZ\x04\x00\xFF\xFF\xFF\xFF" "A", 9)).pages[0];
  EXPECT_TRUE(z.any(pixelX(2) + 2, 0, pixelX(4), pixelY(9)));  // the A at dot 2
  // ESC ^: nine pins, the ninth in bit 7 of each column's second byte.
  const Page nine = render(bytes("\x1B^\x00\x01\x00\x00\x80", 7)).pages[0];
  EXPECT_TRUE(nine.any(0, pixelY(8), nine.width, pixelY(9)));
  EXPECT_FALSE(nine.any(0, 0, nine.width, pixelY(8)));
  // ESC * 39 is a 24-pin mode: not understood.
  const Rendering r = render("\x1B*'" + three);
  ASSERT_FALSE(r.problems.empty());
  EXPECT_EQ(r.problems[0].offset, 0u);
  EXPECT_NE(r.problems[0].message.find("1B 2A 27"), std::string::npos) << r.problems[0].message;
}

TEST(PrinterControls, PitchAndDoubleWidth) {
  // SO: double width until the line feed; each character takes two columns.
  EXPECT_EQ(inkedColumns(render("\x0E" "AB\nAB").pages[0], 0, 5), "####.");
  EXPECT_EQ(inkedColumns(render("\x0E" "AB\nAB").pages[0], 12, 5), "##...");
  // ESC M: 12 characters per inch, so 12 characters end one inch on.
  const Page elite = render("\x1BM" + std::string(12, 'H')).pages[0];
  EXPECT_TRUE(elite.any(pixelX(110), 0, pixelX(120), pixelY(9)));
  EXPECT_FALSE(elite.any(pixelX(120), 0, elite.width, elite.height));
}

TEST(PrinterControls, PaperSizes) {
  EXPECT_EQ(render("A", {*paperNamed("a4"), 100}).pages[0].height, 4209);
  EXPECT_EQ(render("A", {*paperNamed("a4"), 100}).pages[0].width, 2976);
  EXPECT_EQ(render("A", {*paperNamed("letter"), 100}).pages[0].height, 3960);
  // 72 lines of 1/6 inch fill a 12-inch form; the 73rd starts a new one.
  std::string s;
  for (int i = 0; i < 73; ++i) s += "L\r\n";
  const Rendering r = render(s, {*paperNamed("12in"), 100});
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_TRUE(inkInCell(r.pages[0], 0, 71 * 12));
  EXPECT_FALSE(paperNamed("b5"));
}

}  // namespace
}  // namespace bspp::preview
