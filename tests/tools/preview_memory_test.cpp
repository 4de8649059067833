// Long and hostile streams: the preview holds one page, refuses streams with
// too many pages before drawing any, and the listing is written as it goes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "preview/escp_render.h"

namespace bspp::preview {
namespace {

namespace fs = std::filesystem;

TEST(PreviewMemory, PagesPassThroughTheSinkOneAtATime) {
  // Page n has one character, in column n % 80: a page that still held an
  // earlier page's ink would show two.
  std::string s;
  for (int n = 0; n < 400; ++n) s += std::string(static_cast<std::size_t>(n % 80), ' ') + "A\x0C";
  std::set<const Page*> buffers;
  std::size_t seen = 0;
  const RenderSummary r = render(s, {*paperNamed("11in"), 400}, [&](const Page& p, std::size_t number) {
    buffers.insert(&p);
    EXPECT_EQ(number, ++seen);
    const int column = static_cast<int>((number - 1) % 80);
    EXPECT_TRUE(p.any(pixelX(column * kColumnDots), 0, pixelX((column + 1) * kColumnDots), pixelY(9)));
    // Every page's ink is on the first line: nothing else is there.
    EXPECT_FALSE(p.any(0, 0, pixelX(column * kColumnDots), pixelY(10))) << number;
    EXPECT_FALSE(p.any(pixelX((column + 1) * kColumnDots), 0, p.width, pixelY(10))) << number;
    return true;
  });
  EXPECT_EQ(r.pages, 400u);
  EXPECT_EQ(seen, 400u);
  EXPECT_EQ(buffers.size(), 1u);  // one page buffer, reused
}

TEST(PreviewMemory, TooManyPagesDrawsNothing) {
  std::size_t calls = 0;
  const RenderSummary r = render(std::string(101, '\x0C') + "A", {*paperNamed("11in"), 100},
                                 [&](const Page&, std::size_t) { return ++calls > 0; });
  EXPECT_TRUE(r.tooManyPages);
  EXPECT_EQ(calls, 0u);
  // Exactly at the limit: drawn.
  EXPECT_FALSE(render(std::string(99, '\x0C') + "A", {*paperNamed("11in"), 100},
                      [](const Page&, std::size_t) { return true; }).tooManyPages);
}

TEST(PreviewMemory, ProblemsAreCountedButOnlyTheFirstAreKept) {
  const RenderSummary r = render(std::string(5000, '\x01'), {},
                                 [](const Page&, std::size_t) { return true; });
  EXPECT_EQ(r.problemCount, 5000u);
  EXPECT_EQ(r.problems.size(), kProblemsKept);
}

#if !BSPP_SANITIZED
// bspp-print under an address-space limit far below what keeping every
// page (12 MB each) or the whole listing would take.
class PreviewUnderALimit : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/bspp-mem-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  int run(const std::string& args, const std::string& input) {
    std::ofstream(dir_ / "in.bin", std::ios::binary) << input;
    const std::string cmd = "ulimit -v 200000; cd '" + dir_.string() + "' && '" BSPP_PRINT "' " +
                            args + " in.bin >out.txt 2>err.txt";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string err() const {
    std::ifstream in(dir_ / "err.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(PreviewUnderALimit, FortyPagesIn200MB) {
  std::string s;
  for (int i = 0; i < 40; ++i) s += "A\x0C";
  EXPECT_EQ(run("--stream --preview p.png", s), 0) << err();
  EXPECT_TRUE(fs::exists(dir_ / "p-40.png"));
  EXPECT_FALSE(fs::exists(dir_ / "p-41.png"));
}

TEST_F(PreviewUnderALimit, PastMaxPagesAClearErrorAndNoFiles) {
  EXPECT_EQ(run("--stream --max-pages 3 --preview p.png", "A\x0C" "B\x0C" "C\x0C" "D"), 1);
  EXPECT_NE(err().find("more than 3 pages"), std::string::npos) << err();
  EXPECT_FALSE(fs::exists(dir_ / "p.png"));
  EXPECT_EQ(run("--stream --max-pages 0 --preview p.png", "A"), 2);
  EXPECT_EQ(run("--stream --paper b5 --preview p.png", "A"), 2);
}

TEST_F(PreviewUnderALimit, ListingOfFourMegabytesIn200MB) {
  // One row of about 60 bytes per byte of input: 240 MB of listing.
  EXPECT_EQ(run("--stream --dump", std::string(4u << 20, '\r')), 0) << err();
  EXPECT_GT(fs::file_size(dir_ / "out.txt"), 50u * (4u << 20));
}
#endif

}  // namespace
}  // namespace bspp::preview
