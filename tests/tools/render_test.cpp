// The preview printer: where text and graphics land, pages, and what it
// does with bytes it does not understand.
#include <gtest/gtest.h>

#include <string>

#include "preview_support.h"
#include "preview/escp_render.h"
#include "preview/escp_stream.h"

namespace bspp::preview {
namespace {

TEST(Render, TextAtTenCharactersPerInchFromTheLeftMargin) {
  const Rendering r = renderAll("A B");
  ASSERT_EQ(r.pages.size(), 1u);
  const Page& p = r.pages[0];
  EXPECT_EQ(p.width, 3060);   // 8.5 in at 360 dpi
  EXPECT_EQ(p.height, 3960);  // 11 in
  EXPECT_TRUE(inkInCell(p, 0, 0));
  EXPECT_FALSE(inkInCell(p, 1, 0));
  EXPECT_TRUE(inkInCell(p, 2, 0));
  EXPECT_FALSE(inkInCell(p, 3, 0, 60));
  // Nothing left of the margin, nothing below the first line.
  EXPECT_FALSE(anyInk(p, 0, 0, pixelX(0) - 3, p.height));
  EXPECT_FALSE(anyInk(p, 0, pixelY(10), p.width, p.height));
  EXPECT_TRUE(r.problems.empty());
}

TEST(Render, LineFeedsFollowTheLineSpacing) {
  // Default 1/6 inch, then ESC A 30 (30/72), then ESC 2 again.
  const Rendering r = renderAll("A\r\nB\x1B" "A\x1E\r\nC\x1B" "2\r\nD");
  const Page& p = r.pages[0];
  EXPECT_TRUE(inkInCell(p, 0, 0));
  EXPECT_TRUE(inkInCell(p, 0, 12));
  EXPECT_FALSE(inkInCell(p, 0, 21, 21));
  EXPECT_TRUE(inkInCell(p, 0, 42));
  EXPECT_TRUE(inkInCell(p, 0, 54));
}

TEST(Render, CarriageReturnOverprintsWithoutFeeding) {
  const Page p = renderAll("AB\rX").pages[0];
  EXPECT_TRUE(inkInCell(p, 0, 0));
  EXPECT_FALSE(anyInk(p, 0, pixelY(9), p.width, p.height));
}

TEST(Render, GraphicsStartAtThePrintPositionTopPinInBit7AndMoveIt) {
  // "AB", then 5 dot columns: 80 (top pin), 00, 01 (8th pin), 00, FF; then "C".
  const Rendering r = renderAll(bytes("AB\x1BL\x05\x00\x80\x00\x01\x00\xFF" "C", 12));
  const Page& p = r.pages[0];
  const int x = pixelX(24);  // right after two columns of text
  // A pin mark is 5 pixels across, centred one pixel into its dot column.
  EXPECT_TRUE(anyInk(p, x - 1, pixelY(0), x + 4, pixelY(1)));
  EXPECT_FALSE(anyInk(p, x - 1, pixelY(1) + 2, x + 4, pixelY(9)));
  EXPECT_TRUE(anyInk(p, x + 5, pixelY(7), x + 10, pixelY(8)));
  EXPECT_FALSE(anyInk(p, x + 5, 0, x + 10, pixelY(7)));
  EXPECT_TRUE(anyInk(p, x + 11, pixelY(0), x + 16, pixelY(1)));
  EXPECT_TRUE(anyInk(p, x + 11, pixelY(7), x + 16, pixelY(8)));
  // The text after the graphics starts at dot 29, the graphics' right end.
  EXPECT_TRUE(anyInk(p, pixelX(30), 0, pixelX(41), pixelY(9)));
  EXPECT_FALSE(anyInk(p, pixelX(42), 0, p.width, p.height));
}

TEST(Render, GraphicsPastTheEndOfThePrintLineAreDropped) {
  std::string s = "\x1BL";
  s += bytes("\xCC\x03", 2);  // k = 972
  s += std::string(972, '\xFF');
  const Page p = renderAll(s).pages[0];
  EXPECT_TRUE(anyInk(p, pixelX(959), 0, pixelX(960), pixelY(8)));
  EXPECT_FALSE(anyInk(p, pixelX(960) + 2, 0, p.width, p.height));
}

TEST(Render, TextPastColumn80WrapsToTheNextLine) {
  const Page p = renderAll(std::string(81, 'X')).pages[0];
  EXPECT_TRUE(inkInCell(p, 79, 0));
  EXPECT_FALSE(inkInCell(p, 80, 0));
  EXPECT_TRUE(inkInCell(p, 0, 12));
  EXPECT_FALSE(inkInCell(p, 1, 12));
}

TEST(Render, FormFeedStartsANewPageAndATrailingOneAddsNone) {
  const Rendering r = renderAll("A\x0C" "B\x0C");
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_TRUE(inkInCell(r.pages[1], 0, 0));
  EXPECT_EQ(renderAll("\x0C\x0C" "A").pages.size(), 3u);
  EXPECT_EQ(renderAll("").pages.size(), 1u);
}

TEST(Render, FeedsPastTheBottomContinueOnTheNextPage) {
  // 66 lines of 1/6 inch fill an 11-inch page.
  std::string s;
  for (int i = 0; i < 67; ++i) s += "L\r\n";
  const Rendering r = renderAll(s);
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_TRUE(inkInCell(r.pages[0], 0, 65 * 12));
  EXPECT_TRUE(inkInCell(r.pages[1], 0, 0));
}

TEST(Render, UnknownBytesAreDrawnAsMarkersInTheirColumnAndReported) {
  // 01 is no command of a 9-pin printer, nor is ESC "z".
  const Rendering r = renderAll(bytes("A\x01" "B\x1Bz" "C", 6));
  const Page& p = r.pages[0];
  EXPECT_TRUE(inkInCell(p, 1, 0, 9, kMarker));
  EXPECT_TRUE(inkInCell(p, 2, 0));
  EXPECT_TRUE(inkInCell(p, 3, 0, 9, kMarker));  // ESC "z" takes one column
  EXPECT_TRUE(inkInCell(p, 4, 0));
  ASSERT_EQ(r.problems.size(), 2u);
  EXPECT_EQ(r.problems[0].offset, 1u);
  EXPECT_EQ(r.problems[1].offset, 3u);
}

TEST(Render, TruncatedCommandsAreReportedWithTheirOffsetAndNotCarriedOut) {
  for (const std::string& s : {bytes("AB\x1B", 3), bytes("AB\x1B" "A", 4),
                               bytes("AB\x1BL\x05", 5), bytes("AB\x1BL\x05\x00\xFF\xFF", 8)}) {
    const Rendering r = renderAll(s);
    ASSERT_EQ(r.problems.size(), 1u) << s.size();
    EXPECT_EQ(r.problems[0].offset, 2u);
    EXPECT_NE(r.problems[0].message.find("truncated"), std::string::npos);
    EXPECT_FALSE(anyInk(r.pages[0], pixelX(24), 0, r.pages[0].width, r.pages[0].height));
  }
}

// --stream takes any file: graphics past the right margin move the print
// position on by 2^31 units of 1/720 inch and more, and the text after them
// still goes on to the next line.
TEST(Render, HugeGraphicsPastTheMarginDoNotOverflowThePosition) {
  const std::string command("\x1BK\xFF\xFF", 4);  // 65535 blank columns at 60 dpi
  std::string s;
  for (int i = 0; i < 2731; ++i) s += command + std::string(65535, '\0');  // 179 million
  s += "A";
  const Rendering r = renderAll(s);
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(inkInCell(r.pages[0], 0, 12));
}

TEST(Stream, EveryByteBelongsToOneCommand) {
  const std::string s = bytes("AB\x1B" "A\x04\r\n\x1BL\x02\x00\x12\x34\x1B" "2\r\n\x0C\x00\x1B", 20);
  std::size_t next = 0;
  StreamReader reader(s);
  for (Command c{}; reader.next(c);) {
    EXPECT_EQ(c.offset, next);
    next += c.length;
  }
  EXPECT_EQ(next, s.size());
}

}  // namespace
}  // namespace bspp::preview
