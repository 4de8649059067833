// The POSIX printer port against real files, FIFOs and locks.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "port/lpt_port.h"

namespace bspp {
namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bspp-port-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"/file", "/fifo"}) ::unlink((dir_ + name).c_str());
    ::rmdir(dir_.c_str());
  }
  std::string makeFile() {
    const std::string path = dir_ + "/file";
    std::ofstream(path).flush();
    return path;
  }
  std::string makeFifo() {
    const std::string path = dir_ + "/fifo";
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }
  static std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string dir_;
};

// A stream with every byte value, NULs included, larger than a pipe buffer.
std::string bigStream(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7);
  return s;
}

TEST_F(PosixPortTest, WritesTheWholeStreamAndTakesTheWaitInFull) {
  const std::string path = makeFile();
  const std::string stream = bigStream(100000);
  const auto start = Clock::now();
  EXPECT_TRUE(openPort(path.c_str())->transfer(stream, 120));
  EXPECT_GE(msSince(start), 120);
  EXPECT_EQ(readAll(path), stream);
}

TEST_F(PosixPortTest, EmptyStreamIsASuccessfulZeroByteWrite) {
  const std::string path = makeFile();
  EXPECT_TRUE(openPort(path.c_str())->transfer("", 0));
  EXPECT_EQ(readAll(path), "");
}

TEST_F(PosixPortTest, MissingDeviceFailsAfterTheWait) {
  const auto start = Clock::now();
  EXPECT_FALSE(openPort((dir_ + "/absent").c_str())->transfer("x", 100));
  EXPECT_GE(msSince(start), 100);
  EXPECT_LT(msSince(start), 2000);
}

TEST_F(PosixPortTest, PortHeldByAnotherOpenIsBusy) {
  const std::string path = makeFile();
  auto first = openPort(path.c_str());
  EXPECT_FALSE(openPort(path.c_str())->transfer("second", 0));
  EXPECT_TRUE(first->transfer("first", 0));
  EXPECT_EQ(readAll(path), "first");

  // A lock taken outside the library counts as well.
  const int other = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  EXPECT_FALSE(openPort(path.c_str())->transfer("third", 0));
  ::close(other);
  EXPECT_TRUE(openPort(path.c_str())->transfer("third", 0));
}

TEST_F(PosixPortTest, FifoWithoutReaderFails) {
  const std::string path = makeFifo();
  const auto start = Clock::now();
  EXPECT_FALSE(openPort(path.c_str())->transfer("x", 50));
  EXPECT_GE(msSince(start), 50);
}

TEST_F(PosixPortTest, ReaderThatTakesEverythingInTimeSucceeds) {
  const std::string path = makeFifo();
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::string stream = bigStream(300000);
  std::string received;
  std::atomic<bool> done{false};
  std::thread drain([&] {
    char buf[8192];
    for (;;) {
      const ssize_t n = ::read(reader, buf, sizeof buf);
      if (n > 0) received.append(buf, static_cast<std::size_t>(n));
      if (n == 0 && done) break;
      if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_TRUE(openPort(path.c_str())->transfer(stream, 1000));
  done = true;
  drain.join();
  ::close(reader);
  EXPECT_EQ(received, stream);
}

TEST_F(PosixPortTest, EndlessWaitReturnsOnceTheReaderHasEverything) {
  const std::string path = makeFifo();
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::string stream = bigStream(300000);
  std::string received;
  const auto start = Clock::now();
  long drainedMs = 0;
  std::thread drain([&] {
    // The printer starts taking the job only after 200 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char buf[8192];
    while (received.size() < stream.size()) {
      const ssize_t n = ::read(reader, buf, sizeof buf);
      if (n > 0) received.append(buf, static_cast<std::size_t>(n));
      if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    drainedMs = msSince(start);
  });
  EXPECT_TRUE(openPort(path.c_str())->transfer(stream, 0xFFFFFFFF));
  const long returnedMs = msSince(start);
  drain.join();
  ::close(reader);
  EXPECT_EQ(received, stream);
  EXPECT_GE(returnedMs, 200);
  EXPECT_LT(returnedMs, drainedMs + 1000);
}

TEST_F(PosixPortTest, WriteStillPendingAtTheCheckFailsOnTime) {
  const std::string path = makeFifo();
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const auto start = Clock::now();
  {
    // The stream is gone once the call returns; nothing may touch it later.
    const std::string stream = bigStream(1 << 20);
    EXPECT_FALSE(openPort(path.c_str())->transfer(stream, 150));
  }
  EXPECT_GE(msSince(start), 150);
  EXPECT_LT(msSince(start), 2000);
  // What reached the reader is a prefix of the stream, and nothing follows.
  std::string received(1 << 20, '\0');
  const ssize_t n = ::read(reader, received.data(), received.size());
  ASSERT_GT(n, 0);
  received.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(received, bigStream(1 << 20).substr(0, received.size()));
  EXPECT_EQ(::read(reader, received.data(), 1), 0);  // writer closed
  ::close(reader);
}

TEST_F(PosixPortTest, ReaderGoingAwayIsAFailureNotASignal) {
  const std::string path = makeFifo();
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto port = openPort(path.c_str());
  ::close(reader);
  // With SIGPIPE's default action this would end the test process.
  EXPECT_FALSE(port->transfer("lost", 0));
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

}  // namespace
}  // namespace bspp
