// The POSIX printer port against real files and locks. FIFOs standing in for
// printers that are absent, stalled, slow or go away are in
// reliability/real_device_test.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

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
    ::unlink((dir_ + "/file").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string makeFile() {
    const std::string path = dir_ + "/file";
    std::ofstream(path).flush();
    return path;
  }
  static std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string dir_;
};

// A stream with every byte value, NULs included.
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

}  // namespace
}  // namespace bspp
