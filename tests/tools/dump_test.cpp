// The annotated listing: one row per element, with the printer's reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <streambuf>

#include "api/print_job.h"
#include "preview/stream_dump.h"

namespace bspp::preview {
namespace {

std::string dumped(const std::string& s) {
  std::ostringstream out;
  dumpStream(s, out);
  return out.str();
}

std::string band(char spacing, const std::string& dots) {
  return std::string("\x1B" "A") + spacing + "\r\n\x1BL" + static_cast<char>(dots.size()) +
         std::string(1, '\0') + dots;
}

TEST(Dump, ListsBandsTheirPictureTextLineEndsAndFormFeed) {
  // A line whose bands hold a 2 x 16 dot block in dot columns 5-6, then
  // its text, its line end, an empty last line and the form feed.
  std::string top(24, '\0'), bottom(24, '\0');
  top[5] = top[6] = bottom[5] = bottom[6] = '\xFF';
  const std::string s = band('\x04', top) + band('\x08', bottom) + "\rAB  C\x1B" "2\r\n\x1B" "2\r\n\x0C";
  const std::string d = dumped(s);
  EXPECT_NE(d.find("000000  band         1B 41 04 0D 0A: feed 4/72 in; ESC L k=24 (18 00)"),
            std::string::npos) << d;
  EXPECT_NE(d.find("band (2nd)   1B 41 08"), std::string::npos) << d;
  // Eight picture rows of two dot rows each, both inked: ':' in columns 5-6.
  EXPECT_NE(d.find("|     ::\n                    |     ::\n"), std::string::npos) << d;
  EXPECT_NE(d.find("CR           0D"), std::string::npos);
  EXPECT_NE(d.find("text         \"AB  C\"  (5 bytes, columns 0-4)"), std::string::npos) << d;
  EXPECT_NE(d.find("form feed    0C: end of page 1"), std::string::npos);
  EXPECT_NE(d.find("2 line ends, 2 band records, 1 form feed, 0 problems"), std::string::npos) << d;
}

TEST(Dump, ShowsUnprintableBytesEscapedAndProblems) {
  // 81 and 01 are no commands; 80 stands for NUL, which the printer skips.
  const std::string d = dumped(std::string("A\"\\\x81\x01\x80", 6) + "\x1BL\x10");
  EXPECT_NE(d.find("text         \"A\\\"\\\\\""), std::string::npos) << d;
  EXPECT_NE(d.find("UNKNOWN      81"), std::string::npos) << d;
  EXPECT_NE(d.find("UNKNOWN      01"), std::string::npos) << d;
  EXPECT_NE(d.find("ignored      80"), std::string::npos) << d;
  EXPECT_NE(d.find("TRUNCATED    1B 4C 10"), std::string::npos) << d;
}

// A raster that inks every dot of every character's cell.
class SolidSurface final : public DrawSurface {
 public:
  void clear() override { ink_.fill(0); }
  void draw(const GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      for (int x = cells[i].x; x < cells[i].x + 16 && x < kLineDots; ++x) {
        ink_[static_cast<std::size_t>(x)] = 0xFFFF;
      }
    }
  }
  void readInk(InkColumns& ink) override { ink = ink_; }

 private:
  InkColumns ink_{};
};

// A Chinese character that starts in column 79 of a raw GB2312 job still
// prints, without the right half of its cell: the listing counts that as a
// problem, once for its two bands; one in column 78 fits.
TEST(Dump, CharacterCutAtTheEndOfThePrintLineIsAProblem) {
  SolidSurface surface;
  const std::string cut = dumped(composeJob(std::string(79, '.') + "\xB0\xA1", true, surface));
  EXPECT_NE(cut.find("PAST LINE    dot columns 960-971 (column 80) lie past the end of the print "
                     "line and are not printed: a character in column 79 loses its right half"),
            std::string::npos)
      << cut;
  EXPECT_NE(cut.find(", 1 problem\n"), std::string::npos) << cut;

  const std::string fits = dumped(composeJob(std::string(78, '.') + "\xB0\xA1", true, surface));
  EXPECT_EQ(fits.find("PAST LINE"), std::string::npos) << fits;
  EXPECT_NE(fits.find(", 0 problems\n"), std::string::npos) << fits;
}

// Keeps only the end of what is written to it.
class Tail final : public std::streambuf {
 public:
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) keep(std::string(1, static_cast<char>(c)));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    keep(std::string_view(s, static_cast<std::size_t>(n)).substr(
        static_cast<std::size_t>(std::max<std::streamsize>(0, n - 4096))));
    return n;
  }

 private:
  void keep(std::string_view more) {
    text += more;
    if (text.size() > 8192) text.erase(0, text.size() - 4096);
  }
};

// --stream takes any file: a text run of 179 million bytes reaches past
// what an int holds in dots, and its columns are still named right.
TEST(Dump, ColumnsOfAHugeStreamDoNotOverflow) {
  const std::size_t columns = 178956971;  // 12 dots each: 2^31 dots and more
  Tail tail;
  std::ostream out(&tail);
  dumpStream(std::string(columns, 'A') + "\x1B" "2\r\n", out);
  EXPECT_NE(tail.text.find("(178956971 bytes, columns 0-178956970)"), std::string::npos)
      << tail.text;
  EXPECT_NE(tail.text.find("1 line end, 0 band records, 0 form feeds, 0 problems"),
            std::string::npos)
      << tail.text;
}

}  // namespace
}  // namespace bspp::preview
