// Text documents as the printer application prints them: checked whole
// first, then composed and sent a piece at a time.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "text_path.h"
#include "text_records.h"

namespace bspp::printer_app {
namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

File fileOf(const std::string& text) {
  File f(std::tmpfile());
  std::fwrite(text.data(), 1, text.size(), f.get());
  return f;
}

// The stream printText sends, and the largest piece it sent at once.
std::string printed(const std::string& text, Charset charset, std::size_t* largest = nullptr) {
  File f = fileOf(text);
  std::string stream;
  const std::unique_ptr<DrawSurface> surface = prepareGlyphSurface();
  printText(f.get(), charset, *surface, [&](std::string_view piece) {
    if (largest != nullptr) *largest = std::max(*largest, piece.size());
    stream += piece;
    return true;
  });
  return stream;
}

// The job bspp-print makes of a GB2312 text with --lines --wrap: the
// records and a NUL, composed whole by the library's call path.
std::string whole(const std::string& gb) {
  std::string records = tools::linesToRecords(gb, tools::LongLines::wrap);
  records.push_back('\0');
  std::unique_ptr<DrawSurface> surface = prepareGlyphSurface();
  return composeJob(records, false, *surface);
}

TEST(TextPath, SameStreamAsTheWholeJobInEveryCharset) {
  const std::string gb = "\xC4\xE3\xBA\xC3 hello\n" + std::string(85, 'x') + "\n\f\n" +
                         std::string(79, 'a') + "\xD6\xD0\n";
  const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD hello\n" + std::string(85, 'x') + "\n\f\n" +
                           std::string(79, 'a') + "\xE4\xB8\xAD\n";
  const std::string want = whole(gb);
  EXPECT_EQ(printed(utf8, Charset::automatic), want);
  EXPECT_EQ(printed(utf8, Charset::utf8), want);
  EXPECT_EQ(printed(gb, Charset::automatic), want);
  EXPECT_EQ(printed(gb, Charset::gb2312), want);
  EXPECT_EQ(want.back(), '\f');
}

TEST(TextPath, RefusesBeforeSendingAndSaysWhere) {
  for (const auto& [text, charset, place] : {
           // A euro sign; a lead byte without a GB2312 trail byte; GB2312
           // sent as UTF-8; and ñ, which is valid UTF-8 and so never read
           // as the GB2312 character its two bytes would make.
           std::tuple{"total\n\xE5\x90\x88\xE8\xAE\xA1 \xE2\x82\xAC" "12\n", Charset::automatic, "line 2, column 4"},
           std::tuple{"ok\nx\xD6\x41", Charset::gb2312, "line 2, column 2"},
           std::tuple{"\xC4\xE3", Charset::utf8, "line 1, column 1"},
           std::tuple{"ma\xC3\xB1" "ana", Charset::automatic, "line 1, column 3"},
       }) {
    File f = fileOf(text);
    bool sent = false;
    try {
      printText(f.get(), charset, *prepareGlyphSurface(), [&](std::string_view) { return sent = true; });
      ADD_FAILURE() << "printed: " << text;
    } catch (const TextRefused& e) {
      EXPECT_NE(std::string(e.what()).find(place), std::string::npos) << e.what();
    }
    EXPECT_FALSE(sent) << text;
  }
  File f = fileOf("abc");
  EXPECT_THROW(printText(f.get(), Charset::unsupported, *prepareGlyphSurface(), [](std::string_view) { return true; }),
               TextRefused);
  EXPECT_EQ(charsetOf("text/plain", ""), Charset::automatic);
  EXPECT_EQ(charsetOf("text/plain; charset=\"utf-8\"", "gb2312"), Charset::utf8);
  EXPECT_EQ(charsetOf("text/plain", "gb2312"), Charset::gb2312);
  EXPECT_EQ(charsetOf("text/plain;charset=iso-8859-1", ""), Charset::unsupported);
}

// A surface whose font lacks every character it is asked to draw.
class NoFont final : public DrawSurface {
 public:
  void clear() override {}
  void draw(const GlyphCell*, std::size_t count) override { missed_ = missed_ || count > 0; }
  void readInk(InkColumns& ink) override { ink.fill(0); }
  bool missedGlyph() const override { return missed_; }

 private:
  bool missed_ = false;
};

TEST(TextPath, NoFontForTheChineseCharactersRefusesBeforeSending) {
  File f = fileOf("plain text\nand \xE4\xB8\xAD\xE6\x96\x87\n");
  NoFont surface;
  bool sent = false;
  try {
    printText(f.get(), Charset::automatic, surface, [&](std::string_view) { return sent = true; });
    ADD_FAILURE() << "printed without a font";
  } catch (const TextRefused& e) {
    EXPECT_NE(std::string(e.what()).find("no Chinese font"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("line 2, column 5"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(sent);
  File ascii = fileOf("only ASCII\n");
  NoFont unused;
  EXPECT_TRUE(printText(ascii.get(), Charset::automatic, unused, [](std::string_view) { return true; }));
}

TEST(TextPath, ALongTextGoesOutInPiecesAndAStopStopsIt) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "\xE7\xAC\xAC " + std::to_string(i) + " \xE8\xA1\x8C\n";
  std::size_t largest = 0;
  const std::string stream = printed(text, Charset::utf8, &largest);
  EXPECT_GT(stream.size(), 4u * 1024 * 1024);
  EXPECT_LT(largest, stream.size() / 8) << "largest piece";  // a block of the document at a time

  File f = fileOf(text);
  int calls = 0;
  EXPECT_FALSE(printText(f.get(), Charset::utf8, *prepareGlyphSurface(), [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace bspp::printer_app
