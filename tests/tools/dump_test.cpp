// The annotated listing: one row per element, with the printer's reading.
#include <gtest/gtest.h>

#include <sstream>

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

}  // namespace
}  // namespace bspp::preview
