// Runs out of memory at every allocation a call makes, one at a time. Each
// such call must answer false, release the port and leak nothing (the
// linux-asan build checks the leaks at exit).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "compose/glyph_surface.h"
#include "failing_allocator.h"
#include "fake_surface.h"
#include "support.h"

namespace bspp {
namespace {

// Several lines, some with double-byte characters (different ones, so that a
// surface's per-call cache grows), and a partial last line with keepPage 0.
std::string jobText() {
  std::string text = "Invoice 2024-001";
  text.resize(80, ' ');
  text += "\xC9\xCC\xC6\xB7 \xCA\xFD\xC1\xBF 12 \xB5\xA5\xBC\xDB 3.50";
  text.resize(160, ' ');
  text += "\xBA\xCF\xBC\xC6: 42.00 \xD4\xAA";
  return text;
}

int livePorts = 0;

class CountedPort final : public Port {
 public:
  CountedPort() { ++livePorts; }
  ~CountedPort() override { --livePorts; }
  bool transfer(std::string_view stream, std::uint32_t) override { return !stream.empty(); }
};

class FakePlatform final : public Platform {
 public:
  std::unique_ptr<Port> openPort() override { return std::make_unique<CountedPort>(); }
  std::unique_ptr<DrawSurface> prepareSurface() override {
    return std::make_unique<test::FakeSurface>([](int dx, int row) { return (dx + row) % 3 == 0; });
  }
};

bool printWith(Platform& platform, long failAt, long* made) {
  static const std::string text = jobText();
  test::armAllocator(failAt);
  const bool result =
      printJob(platform, text.data(), static_cast<std::int32_t>(text.size() - 1), 0, 0);
  *made = test::disarmAllocator();
  return result;
}

// Fails allocation k of the call for k = 1 .. the number the call makes.
// `released` tells whether the port of the last call has been given up.
template <typename MakePlatform, typename Released>
void failEachAllocationInTurn(MakePlatform makePlatform, Released released) {
  long total = 0;
  {
    auto platform = makePlatform();
    ASSERT_TRUE(printWith(*platform, 0, &total));
  }
  ASSERT_GT(total, 0);
  ::testing::Test::RecordProperty("allocations", static_cast<int>(total));
  std::printf("allocations in one call: %ld\n", total);
  for (long k = 1; k <= total; ++k) {
    const int descriptors = test::openDescriptorCount();
    auto platform = makePlatform();
    long made = 0;
    EXPECT_FALSE(printWith(*platform, k, &made)) << "allocation " << k << " of " << total;
    EXPECT_EQ(made, k) << "the call went on after allocation " << k << " failed";
    platform.reset();
    EXPECT_TRUE(released()) << "port held after allocation " << k << " failed";
    EXPECT_EQ(test::openDescriptorCount(), descriptors) << "allocation " << k;
  }
  // And the call still works afterwards.
  auto platform = makePlatform();
  long made = 0;
  EXPECT_TRUE(printWith(*platform, 0, &made));
  EXPECT_EQ(made, total);
}

TEST(AllocationFailure, FakePortAndSurface) {
  failEachAllocationInTurn([] { return std::make_unique<FakePlatform>(); },
                           [] { return livePorts == 0; });
}

TEST(AllocationFailure, PosixPortAndFreeTypeSurface) {
  test::TempDir dir;
  const std::string device = dir.file("lp0");
  const int fd = ::open(device.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  auto makeSurface = [] { return prepareGlyphSurface(); };
  failEachAllocationInTurn(
      [&] {
        return std::make_unique<test::DevicePlatform<decltype(makeSurface)>>(device, makeSurface);
      },
      [&] {
        // Free again: an exclusive lock can be had at once.
        const int probe = ::open(device.c_str(), O_WRONLY);
        const bool free = probe >= 0 && ::flock(probe, LOCK_EX | LOCK_NB) == 0;
        if (probe >= 0) ::close(probe);
        return free;
      });
}

}  // namespace
}  // namespace bspp
