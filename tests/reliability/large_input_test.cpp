// Large jobs and extreme arguments: composing grows linearly in time and in
// memory with the job, and a NULL text is never read whatever lastIndex says.
#include <malloc.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "failing_allocator.h"
#include "support.h"

namespace bspp {
namespace {

// Times are compared only in optimised builds without a sanitizer; under a
// sanitizer they measure the sanitizer's bookkeeping as much as our code.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__OPTIMIZE__)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif

// `bytes` of text laid out as a shop receipt: three text lines, then a line
// with double-byte characters, over and over.
std::string receipt(std::size_t bytes) {
  std::string text;
  text.reserve(bytes + 160);
  for (int row = 0; text.size() < bytes; ++row) {
    std::string line = row % 4 == 3 ? "\xC9\xCC\xC6\xB7  \xCA\xFD\xC1\xBF 2  \xBA\xCF\xBC\xC6 "
                                     : "item " + std::to_string(row) + "  qty 2  price 4.50";
    line.resize(80, ' ');
    text += line;
  }
  text.resize(bytes);
  return text;
}

struct Measure {
  double seconds = 1e9;        // processor time of the fastest run
  std::size_t streamBytes = 0;
  std::size_t peakBytes = 0;   // most memory held at once while composing
};

// The processor time of this thread: what composing costs, without the time
// other processes on a busy machine take from it.
double threadSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void compose(const std::string& text, Measure& m) {
  BlankSurface surface;
  test::resetPeak();
  const std::size_t before = test::liveBytes();
  const double start = threadSeconds();
  const std::string stream = composeJob(text, false, surface);
  m.seconds = std::min(m.seconds, threadSeconds() - start);
  m.streamBytes = stream.size();
  m.peakBytes = test::peakBytes() - before;
}

TEST(LargeInput, FiftyMegabytesComposeInLinearTimeAndMemory) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "one thread only: nothing for ThreadSanitizer to see, at ten times the cost";
#endif
  // Freed memory stays with the process, so that after the first run of
  // each size neither pays for mapping fresh pages: left to itself glibc
  // would map the 50 MB job's blocks afresh every time (they are above its
  // largest threshold) but reuse the 5 MB job's.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
  const std::string small = receipt(5u << 20);
  const std::string large = receipt(50u << 20);
  Measure s;
  Measure l;
  for (int run = 0; run < (kTimed ? 5 : 1); ++run) {
    compose(small, s);
    compose(large, l);
  }
  std::printf("5 MB: %.3f s, stream %zu bytes, peak %zu bytes\n", s.seconds, s.streamBytes,
              s.peakBytes);
  std::printf("50 MB: %.3f s, stream %zu bytes, peak %zu bytes (%.1f times as long)\n", l.seconds,
              l.streamBytes, l.peakBytes, l.seconds / s.seconds);
  if (kTimed) {
    EXPECT_LT(l.seconds, 12 * s.seconds);
  }
  // Memory: the stream itself, with the room a growing string keeps.
  EXPECT_LT(l.peakBytes, 3 * l.streamBytes);
  EXPECT_LT(s.peakBytes, 3 * s.streamBytes);
  EXPECT_LT(l.peakBytes, 12 * s.peakBytes);
}

// A platform that remembers what reached its port.
class RecordingPlatform final : public Platform {
 public:
  class RecordingPort final : public Port {
   public:
    explicit RecordingPort(RecordingPlatform& owner) : owner_(owner) {}
    bool transfer(std::string_view stream, std::uint32_t) override {
      owner_.sent.assign(stream);
      ++owner_.transfers;
      return true;
    }

   private:
    RecordingPlatform& owner_;
  };
  std::unique_ptr<Port> openPort() override {
    ++opens;
    return std::make_unique<RecordingPort>(*this);
  }
  std::unique_ptr<DrawSurface> prepareSurface() override { return std::make_unique<BlankSurface>(); }

  int opens = 0;
  int transfers = 0;
  std::string sent;
};

TEST(LargeInput, ExtremeIndexesWithNullTextTouchNothing) {
  {
    // The most negative index is an empty job: a zero-byte write.
    RecordingPlatform platform;
    test::resetPeak();
    EXPECT_TRUE(printJob(platform, nullptr, INT32_MIN, 0, 0));
    EXPECT_EQ(platform.transfers, 1);
    EXPECT_EQ(platform.sent, "");
  }
  {
    // The largest index with no text: false at once, nothing opened, and no
    // room made for two gigabytes.
    RecordingPlatform platform;
    const std::size_t before = test::liveBytes();
    test::resetPeak();
    EXPECT_FALSE(printJob(platform, nullptr, INT32_MAX, 0, 0));
    EXPECT_EQ(platform.opens, 0);
    EXPECT_LT(test::peakBytes() - before, 4096u);
  }
  {
    // A text in memory that cannot be read: any index below 0 leaves it alone.
    const long page = ::sysconf(_SC_PAGESIZE);
    void* guard = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guard, MAP_FAILED);
    for (std::int32_t index : {-1, -2, -80, INT32_MIN}) {
      RecordingPlatform platform;
      EXPECT_TRUE(printJob(platform, static_cast<const char*>(guard), index, 0, 1));
      EXPECT_EQ(platform.sent, "");
    }
    ::munmap(guard, static_cast<std::size_t>(page));
  }
}

TEST(LargeInput, NullTextThroughTheRealPort) {
  test::TempDir dir;
  const std::string device = dir.file("lp0");
  std::ofstream(device).flush();
  auto platform = test::devicePlatform(device);
  EXPECT_TRUE(printJob(platform, nullptr, INT32_MIN, 0, 0));
  EXPECT_FALSE(printJob(platform, nullptr, INT32_MAX, 0, 0));
  EXPECT_FALSE(printJob(platform, nullptr, 0, 0, 0));
  std::ifstream in(device, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
}

}  // namespace
}  // namespace bspp
