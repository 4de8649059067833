// The library on a machine without a Chinese font. Run with FONTCONFIG_FILE
// naming a configuration whose only fonts are Latin ones (CTest sets it):
// fontconfig reads it at its first use, so this program has its own process.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "api/print_job.h"
#include "compose/font_lookup.h"
#include "compose/glyph_surface.h"
#include "port/lpt_port.h"

namespace bspp {
namespace {

class FontconfigRelease final : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
[[maybe_unused]] ::testing::Environment* const kFontconfigRelease =
    ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

// The platform of the exported call, with a file in place of the printer.
class FilePlatform final : public Platform {
 public:
  explicit FilePlatform(std::string path) : path_(std::move(path)) {}
  std::unique_ptr<Port> openPort() override { return bspp::openPort(path_.c_str()); }
  std::unique_ptr<DrawSurface> prepareSurface() override { return prepareGlyphSurface(); }

 private:
  std::string path_;
};

class NoChineseFont : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("FONTCONFIG_FILE") == nullptr) GTEST_SKIP() << "FONTCONFIG_FILE is not set";
    ASSERT_TRUE(songFontCandidates().empty()) << "the configuration lists a Chinese font";
    char pattern[] = "/tmp/bspp-nofont-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    port_ = dir_ + "/lp";
  }
  void TearDown() override {
    if (dir_.empty()) return;
    std::remove(port_.c_str());
    ::rmdir(dir_.c_str());
  }

  // Prints `text` to a fresh file; what the file received is in `sent`.
  bool print(const std::string& text, JobReport& report, std::string& sent) {
    std::ofstream(port_, std::ios::trunc).flush();
    FilePlatform platform(port_);
    const bool ok = printJob(platform, text.data(), static_cast<std::int32_t>(text.size()) - 1,
                             0, 1, &report);
    std::ifstream in(port_, std::ios::binary);
    sent.assign(std::istreambuf_iterator<char>(in), {});
    return ok;
  }

  std::string dir_;
  std::string port_;
};

TEST_F(NoChineseFont, ChineseJobIsNotPrintedAtAll) {
  JobReport report;
  std::string sent;
  // 发票 (invoice) in a line of text.
  EXPECT_FALSE(print("No. 0012  \xB7\xA2\xC6\xB1  total 35.00", report, sent));
  EXPECT_EQ(report.transfer.failure, Failure::noFont);
  EXPECT_EQ(sent, "");
}

TEST_F(NoChineseFont, TextJobsAndPairsTheCodePageDoesNotMapStillPrint) {
  JobReport report;
  std::string sent;
  EXPECT_TRUE(print("No. 0012  total 35.00", report, sent));
  EXPECT_EQ(report.transfer.failure, Failure::none);
  EXPECT_EQ(sent, std::string("No. 0012  total 35.00") + "\x1B\x32\x0D\x0A");

  // A lead byte with the NUL that ends the text is no character: its bands
  // go out blank, as on a machine with every font.
  const std::string cut("TOTAL \xB7\0", 8);
  EXPECT_TRUE(print(cut, report, sent));
  BlankSurface blank;
  EXPECT_EQ(sent, composeJob(cut, true, blank));
}

}  // namespace
}  // namespace bspp
