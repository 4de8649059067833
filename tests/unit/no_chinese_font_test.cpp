// The library on a machine without a Chinese font. Run with FONTCONFIG_FILE
// naming a configuration whose only fonts are Latin ones (CTest sets it):
// fontconfig reads it at its first use, so this program has its own process.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "../reliability/support.h"
#include "compose/font_lookup.h"
#include "compose/glyph_surface.h"

namespace bspp {
namespace {

// Prints `text` through the call's own raster to a fresh file in place of the
// printer; returns the call's result, `sent` what the file received.
bool print(const std::string& text, JobReport& report, std::string& sent) {
  test::TempDir dir;
  const std::string port = dir.file("lp");
  std::ofstream(port).flush();
  test::DevicePlatform platform(port, [] { return prepareGlyphSurface(); });
  const bool ok =
      printJob(platform, text.data(), static_cast<std::int32_t>(text.size()) - 1, 0, 1, &report);
  std::ifstream in(port, std::ios::binary);
  sent.assign(std::istreambuf_iterator<char>(in), {});
  return ok;
}

TEST(NoChineseFont, ChineseJobIsRefusedWholeAndTextStillPrints) {
  if (std::getenv("FONTCONFIG_FILE") == nullptr) GTEST_SKIP() << "FONTCONFIG_FILE is not set";
  ASSERT_TRUE(songFontCandidates().empty()) << "the configuration lists a Chinese font";
  JobReport report;
  std::string sent;
  // 发票 (invoice) in a line of text: nothing of the job goes out.
  EXPECT_FALSE(print("No. 0012  \xB7\xA2\xC6\xB1  total 35.00", report, sent));
  EXPECT_EQ(report.transfer.failure, Failure::noFont);
  EXPECT_EQ(sent, "");

  EXPECT_TRUE(print("No. 0012  total 35.00", report, sent));
  EXPECT_EQ(report.transfer.failure, Failure::none);
  EXPECT_EQ(sent, std::string("No. 0012  total 35.00") + "\x1B\x32\x0D\x0A");

  // A lead byte with the NUL that ends the text is no character: its bands
  // go out blank, as on a machine with every font.
  const std::string cut("TOTAL \xB7\0", 8);
  EXPECT_TRUE(print(cut, report, sent));
  test::BlankSurface blank;
  EXPECT_EQ(sent, composeJob(cut, true, blank));
}

}  // namespace
}  // namespace bspp
