// The preview acts on the control codes and ESC/P commands a 9-pin printer
// acts on, and draws red boxes only for what such a printer does not know.
#include <gtest/gtest.h>

#include <string>

#include "preview_support.h"
#include "preview/escp_render.h"

namespace bspp::preview {
namespace {

TEST(PrinterControls, ControlCodesMoveThePrintPositionAsThePrinterDoes) {
  struct Case {
    std::string stream;
    int top, pins;
    const char* columns;  // '#' where a text column on rows [top, top + pins) has ink
  };
  const std::string crlf = "AB\r\nCD\x1B" "2\r\nEF\x1B" "2\r\n";
  for (const Case& c : {
           // A host's CR LF inside a record, then the record's own line end:
           // "EF" lands a line lower than meant, and nothing below it.
           Case{crlf, 0, 9, "##.."}, Case{crlf, 12, 9, "##.."}, Case{crlf, 24, 9, "##.."},
           Case{crlf, 36, 900, "...."},
           Case{"A\tB", 0, 9, "#.......#..."}, Case{"ABCDEFGHI\tJ", 0, 9, "#########.......#."},
           Case{bytes("\x1B" "D\x03\x05\x00" "A\tB\tC", 10), 0, 9, "#..#.#.."},  // stops at 3 and 5
           Case{"\bAB\b\bX", 0, 9, "##.."},  // BS overprints; at the margin it does nothing
           Case{bytes("\x00" "A\x7F" "B\x00", 5), 0, 9, "##.."},  // NUL and DEL are ignored
           Case{"A\vB", 12, 9, "#."},  // VT is a line feed until tab stops are set
           Case{bytes("\x1B" "B\x05\x00" "A\vB", 7), 10, 50, ".."},  // a stop at line 5
           Case{bytes("\x1B" "B\x05\x00" "A\vB", 7), 60, 9, "#."},
           Case{bytes("\x1B" "B\x00" "AB\vX", 7), 0, 9, "##."},  // no stops: VT is a CR only
           Case{"A\x8A" "B\xC1", 12, 9, "##."},  // 8A is LF again, C1 an italic A
           Case{bytes("A\x1BJ\x24" "B", 5), 12, 9, ".#."},  // ESC J 36: 1/6 in, no CR
           Case{bytes("\x1B" "3\x12" "A\nB", 6), 9, 3, "#"},  // ESC 3 18: lines 1/12 in apart
           Case{bytes("\x1B" "A\x1E\x1B@A\nB", 8), 12, 3, "#"},  // ESC @ restores 1/6 in
           Case{"\x0E" "AB\nAB", 0, 9, "####."}, Case{"\x0E" "AB\nAB", 12, 9, "##..."},  // SO to LF
           Case{"\x1BM" + std::string(12, 'H'), 0, 9, "##########."},  // ESC M: 12 per inch
       }) {
    const Rendering r = renderAll(c.stream);
    const Page& p = r.pages[0];
    std::string columns;
    for (int col = 0; columns.size() < std::string(c.columns).size(); ++col) {
      columns += inkInCell(p, col, c.top, c.pins) ? '#' : '.';
    }
    EXPECT_EQ(columns, c.columns) << testing::PrintToString(c.stream) << " at " << c.top;
    EXPECT_TRUE(r.problems.empty());
    EXPECT_FALSE(anyInk(p, 0, 0, p.width, p.height, kMarker));
  }
}

TEST(PrinterControls, GraphicsAtEveryDensity) {
  // Dot columns 0 and 2 fire the top pin: the second mark lands 2/density
  // inch after the first (pixels at 360 dpi).
  const std::string three = bytes("\x03\x00\x80\x00\x80", 5);
  for (const auto& [stream, pitch] : std::initializer_list<std::pair<std::string, int>>{
           {"\x1BK" + three, 12}, {"\x1BL" + three, 6}, {"\x1BY" + three, 6},
           {"\x1B*" + bytes("\x00", 1) + three, 12}, {"\x1B*\x04" + three, 9},
           {"\x1B*\x05" + three, 10}, {"\x1B*\x06" + three, 8},
           {bytes("\x1B?L\x00", 4) + "\x1BL" + three, 12}}) {  // ESC ? L 0: ESC L at 60 dpi
    const Page p = renderAll(stream).pages[0];
    int first = -1, got = -1;
    for (int x = 0; x < p.width && got < 0; ++x) {
      if (p.at(x, 0) == kInk && first < 0) first = x;
      else if (p.at(x, 0) == kInk && p.at(x - 1, 0) == kPaper) got = x - first;
    }
    EXPECT_EQ(got, pitch) << testing::PrintToString(stream);
  }
  // ESC Z at 240 dpi: four columns take the width of two at 120 dpi.
  const Page z = renderAll(bytes("\x1BZ\x04\x00\xFF\xFF\xFF\xFF" "A", 9)).pages[0];
  EXPECT_TRUE(anyInk(z, pixelX(2) + 2, 0, pixelX(4), pixelY(9)));  // the A at dot 2
  // ESC ^: nine pins, the ninth in bit 7 of each column's second byte.
  const Page nine = renderAll(bytes("\x1B^\x00\x01\x00\x00\x80", 7)).pages[0];
  EXPECT_TRUE(anyInk(nine, 0, pixelY(8), nine.width, pixelY(9)));
  EXPECT_FALSE(anyInk(nine, 0, 0, nine.width, pixelY(8)));
  // ESC * 39 is a 24-pin mode: not understood.
  const Rendering r = renderAll("\x1B*'" + three);
  ASSERT_FALSE(r.problems.empty());
  EXPECT_EQ(r.problems[0].offset, 0u);
  EXPECT_NE(r.problems[0].message.find("1B 2A 27"), std::string::npos) << r.problems[0].message;
}

TEST(PrinterControls, PaperSizes) {
  const Page a4 = renderAll("A", {*paperNamed("a4"), 100}).pages[0];
  EXPECT_EQ(a4.height, 4209);
  EXPECT_EQ(a4.width, 2976);
  EXPECT_EQ(renderAll("A", {*paperNamed("letter"), 100}).pages[0].height, 3960);
  EXPECT_FALSE(paperNamed("b5"));
  // 72 lines of 1/6 inch fill a 12-inch form; the 73rd starts a new one.
  std::string s;
  for (int i = 0; i < 73; ++i) s += "L\r\n";
  const Rendering r = renderAll(s, {*paperNamed("12in"), 100});
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_TRUE(inkInCell(r.pages[0], 0, 71 * 12));
}

}  // namespace
}  // namespace bspp::preview
