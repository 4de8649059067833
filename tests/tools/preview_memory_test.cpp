// Long and hostile streams: the preview holds one page and refuses streams
// with too many pages before drawing any.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "preview/escp_render.h"
#include "preview_support.h"

namespace bspp::preview {
namespace {

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
    const int left = pixelX(column * kDotsPerColumn), right = pixelX((column + 1) * kDotsPerColumn);
    EXPECT_TRUE(anyInk(p, left, 0, right, pixelY(9)));
    EXPECT_FALSE(anyInk(p, 0, 0, left, p.height) || anyInk(p, right, 0, p.width, p.height)) << number;
    return true;
  });
  EXPECT_EQ(r.pages, 400u);
  EXPECT_EQ(buffers.size(), 1u);  // one page buffer, reused
}

TEST(PreviewMemory, TooManyPagesDrawsNothingAndProblemsAreCapped) {
  std::size_t calls = 0;
  const auto count = [&](const Page&, std::size_t) { return ++calls > 0; };
  EXPECT_TRUE(render(std::string(101, '\x0C') + "A", {*paperNamed("11in"), 100}, count).tooManyPages);
  EXPECT_EQ(calls, 0u);
  EXPECT_FALSE(render(std::string(99, '\x0C') + "A", {*paperNamed("11in"), 100}, count).tooManyPages);
  EXPECT_EQ(calls, 100u);
  const RenderSummary r = render(std::string(5000, '\x01'), {}, count);
  EXPECT_EQ(r.problemCount, 5000u);
  EXPECT_EQ(r.problems.size(), kProblemsKept);
}

}  // namespace
}  // namespace bspp::preview
