// Many callers at once against one printer: 8 threads x 200 calls into a
// FIFO whose reader collects everything. Every call either prints its whole
// job as one unbroken run of bytes or fails; jobs never interleave.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fake_surface.h"
#include "support.h"

namespace bspp {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 200;

// Every job starts with this marker and its own number, on a text line of its
// own, so the collected bytes can be cut back into jobs. Band data never
// holds the marker: the fake raster inks at most 4 dots of a column.
const std::string kMarker = "\x01JOB#";

// One call in ten prints a large job and waits long enough to finish it.
bool isLarge(int call) { return call % 10 == 5; }

std::string jobText(int thread, int call) {
  char head[32];
  std::snprintf(head, sizeof head, "%05d", thread * kCallsPerThread + call);
  std::string text = kMarker + head + " from thread " + std::to_string(thread);
  text.resize(80, ' ');
  // A line with double-byte characters that depend on the job, and a tail
  // whose length differs from job to job.
  text += "\xB5\xDA";
  text += static_cast<char>(0xB0 + thread);
  text += static_cast<char>(0xA1 + call % 90);
  text += " item " + std::to_string(call) + " \xD2\xB3";
  text.resize(160 + static_cast<std::size_t>(call % 50), '.');
  if (isLarge(call)) {
    // Far more than a pipe holds: written in parts, which would mix with
    // other jobs' bytes if two calls could write at once.
    for (int line = 0; line < 1000; ++line) text += "\xD0\xD0 line " + std::to_string(line) + "  ";
  }
  return text;
}

std::unique_ptr<DrawSurface> makeSurface() {
  return std::make_unique<test::FakeSurface>([](int dx, int row) { return dx == row % 4; });
}

std::string expectedStream(int thread, int call) {
  auto surface = makeSurface();
  return composeJob(jobText(thread, call), call % 2 == 1, *surface);
}

int jobNumber(const std::string& bytes, std::size_t at) {
  if (bytes.compare(at, kMarker.size(), kMarker) != 0 || bytes.size() < at + kMarker.size() + 5) {
    return -1;
  }
  return std::stoi(bytes.substr(at + kMarker.size(), 5));
}

TEST(Concurrency, EightThreadsShareOnePrinterWithoutInterleaving) {
  test::TempDir dir;
  const std::string fifo = dir.file("lp0");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int descriptorsBefore = test::openDescriptorCount();

  // The reader, and a writer of our own that keeps the FIFO from reporting
  // end of file between jobs; it never writes and takes no lock.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int keepOpen = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(keepOpen, 0);
  ASSERT_EQ(::fcntl(reader, F_SETFL, 0), 0);  // blocking reads from here on
  std::string collected;
  std::thread drain([&] {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(reader, buf, sizeof buf);
      if (n <= 0) break;  // every writer has closed: done
      collected.append(buf, static_cast<std::size_t>(n));
    }
  });

  std::vector<std::vector<char>> results(kThreads, std::vector<char>(kCallsPerThread, 0));
  std::atomic<int> go{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      auto platform = test::DevicePlatform<decltype(&makeSurface)>(fifo, &makeSurface);
      ++go;
      while (go.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kCallsPerThread; ++i) {
        const std::string text = jobText(t, i);
        const auto waitMs = static_cast<std::uint32_t>(isLarge(i) ? 20 : i % 4);
        results[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)] =
            printJob(platform, text.data(), static_cast<std::int32_t>(text.size() - 1), waitMs,
                     i % 2 == 0 ? 0 : 1)
                ? 1
                : 0;
      }
    });
  }
  for (std::thread& c : callers) c.join();
  ::close(keepOpen);
  drain.join();
  ::close(reader);
  EXPECT_EQ(test::openDescriptorCount(), descriptorsBefore);

  // Cut the collected bytes into jobs: each starts with a marker; a job that
  // reported success arrived whole, one that failed at most in part, and
  // nothing of another job comes in between.
  std::map<int, int> arrivedWhole;
  std::size_t at = 0;
  while (at < collected.size()) {
    const int job = jobNumber(collected, at);
    ASSERT_GE(job, 0) << "no job starts at byte " << at;
    ASSERT_LT(job, kThreads * kCallsPerThread);
    const int thread = job / kCallsPerThread;
    const int call = job % kCallsPerThread;
    const std::string expected = expectedStream(thread, call);
    std::size_t same = 0;
    while (same < expected.size() && at + same < collected.size() &&
           collected[at + same] == expected[same]) {
      ++same;
    }
    if (results[static_cast<std::size_t>(thread)][static_cast<std::size_t>(call)]) {
      ASSERT_EQ(same, expected.size()) << "job " << job << " reported printed but arrived cut";
      ++arrivedWhole[job];
    } else {
      ASSERT_LT(same, expected.size()) << "job " << job << " arrived whole but reported failed";
    }
    at += same;
    ASSERT_TRUE(at == collected.size() || jobNumber(collected, at) >= 0)
        << "job " << job << " is followed by bytes of no job at " << at;
  }

  int succeeded = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCallsPerThread; ++i) {
      if (!results[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)]) continue;
      ++succeeded;
      EXPECT_EQ(arrivedWhole[t * kCallsPerThread + i], 1) << "job " << t * kCallsPerThread + i;
    }
  }
  std::printf("%d of %d calls printed\n", succeeded, kThreads * kCallsPerThread);
  EXPECT_GT(succeeded, kThreads);  // the printer was not busy all the time
}

}  // namespace
}  // namespace bspp
