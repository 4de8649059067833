// Large jobs: composing grows linearly in time and in memory with the job.
#include <malloc.h>
#include <time.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
  test::BlankSurface surface;
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

}  // namespace
}  // namespace bspp
