// The library's POSIX port on real devices: a missing device, one held by
// another open (in this process and in another), a device that fails every
// write (/dev/full), and FIFOs standing in for printers that are absent,
// stalled, slow or that go away mid-job.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "support.h"

namespace bspp {
namespace {

using test::Clock;
using test::msSince;

// Lines of text with a double-byte character each: 4000 of them make a
// stream of about 300 KB, several times a pipe's buffer.
std::string textOf(int lines) {
  std::string t;
  for (int i = 0; i < lines; ++i) {
    std::string line = "row " + std::to_string(i) + ": \xB1\xED\xB8\xF1 data data data";
    line.resize(80, '-');
    t += line;
  }
  return t;
}

const std::string& bigText() {
  static const std::string text = textOf(4000);
  return text;
}

const std::string& bigStream() {
  static const std::string stream = [] {
    test::BlankSurface surface;
    return composeJob(bigText(), true, surface);
  }();
  return stream;
}

bool printText(const std::string& device, const std::string& text, std::uint32_t waitMs) {
  auto platform = test::devicePlatform(device);
  return printJob(platform, text.data(), static_cast<std::int32_t>(text.size() - 1), waitMs, 1);
}

bool printBig(const std::string& device, std::uint32_t waitMs) {
  return printText(device, bigText(), waitMs);
}

bool printSmall(const std::string& device, std::uint32_t waitMs) {
  auto platform = test::devicePlatform(device);
  return printJob(platform, "small job", 8, waitMs, 1);
}

// Makes a thousand failing calls and checks that no descriptor is left open.
// `big`: jobs of about 13 KB, more than a pipe shrunk to one page takes.
void expectThousandFailuresLeakNothing(const std::string& device, bool big) {
  static const std::string medium = textOf(40);
  const int before = test::openDescriptorCount();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_FALSE(big ? printText(device, medium, 0) : printSmall(device, 0)) << "call " << i;
  }
  EXPECT_EQ(test::openDescriptorCount(), before);
}

// Reads a FIFO on its own thread: up to `budget` bytes, `chunk` bytes at a
// time with `pauseMs` between reads; then it stops reading and, if told,
// closes its end.
class FifoReader {
 public:
  struct Policy {
    std::size_t budget = SIZE_MAX;
    std::size_t chunk = 65536;
    int pauseMs = 0;
    bool closeWhenDone = false;
    int pipeSize = 0;  // when set, the pipe's buffer is shrunk to this size
  };

  FifoReader(const std::string& path, Policy policy) : policy_(policy) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd_ >= 0 && policy.pipeSize > 0 && ::fcntl(fd_, F_SETPIPE_SZ, policy.pipeSize) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0) thread_ = std::thread([this] { run(); });
  }
  ~FifoReader() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  // Stops the thread, then takes what is still in the pipe. True when the
  // pipe then reports end of file: no writer holds it any more.
  bool finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ < 0 || closed_) return true;
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        received_.append(buf, static_cast<std::size_t>(n));
      } else {
        return n == 0;
      }
    }
  }

  std::string received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void run() {
    std::string buf(policy_.chunk, '\0');
    std::size_t taken = 0;
    while (!stop_ && taken < policy_.budget) {
      const std::size_t want = std::min(policy_.chunk, policy_.budget - taken);
      const ssize_t n = ::read(fd_, buf.data(), want);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buf, 0, static_cast<std::size_t>(n));
        taken += static_cast<std::size_t>(n);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(n > 0 ? policy_.pauseMs : 1));
    }
    if (policy_.closeWhenDone && taken >= policy_.budget) {
      ::close(fd_);
      fd_ = -1;
      closed_ = true;
    }
  }

  Policy policy_;
  int fd_ = -1;
  bool closed_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

class RealDevice : public ::testing::Test {
 protected:
  std::string makeFile() {
    const std::string path = dir_.file("device");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    ::close(fd);
    return path;
  }
  std::string makeFifo() {
    const std::string path = dir_.file("fifo");
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }
  test::TempDir dir_;
};

TEST_F(RealDevice, AbsentDeviceFailsAfterTheWait) {
  const std::string path = dir_.file("absent");
  const auto start = Clock::now();
  EXPECT_FALSE(printSmall(path, 80));
  EXPECT_GE(msSince(start), 80);
  EXPECT_LT(msSince(start), 80 + test::kLateMs);
  expectThousandFailuresLeakNothing(path, false);
}

TEST_F(RealDevice, DeviceHeldByAnotherOpenInThisProcessIsBusy) {
  const std::string path = makeFile();
  {
    std::unique_ptr<Port> holder = openPort(path.c_str());
    const auto start = Clock::now();
    EXPECT_FALSE(printSmall(path, 50));
    EXPECT_GE(msSince(start), 50);
    expectThousandFailuresLeakNothing(path, false);
  }
  EXPECT_TRUE(printSmall(path, 0));  // free again once the holder is gone
}

TEST_F(RealDevice, DeviceLockedByAnotherProcessIsBusy) {
  const std::string path = makeFile();
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(path.c_str(), O_WRONLY);
    const char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    char c;
    while (::read(release[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char ok = 'n';
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_FALSE(printSmall(path, 20));
  expectThousandFailuresLeakNothing(path, false);
  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);
  EXPECT_TRUE(printSmall(path, 0));
}

TEST_F(RealDevice, WriteFailingAtOnceFails) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const auto start = Clock::now();
  EXPECT_FALSE(printSmall("/dev/full", 60));  // ENOSPC on the first write
  EXPECT_GE(msSince(start), 60);
  EXPECT_LT(msSince(start), 60 + test::kLateMs);
  expectThousandFailuresLeakNothing("/dev/full", false);
}

TEST_F(RealDevice, FifoWithoutReaderIsAbsent) {
  const std::string path = makeFifo();
  const auto start = Clock::now();
  EXPECT_FALSE(printSmall(path, 60));
  EXPECT_GE(msSince(start), 60);
  expectThousandFailuresLeakNothing(path, false);
}

TEST_F(RealDevice, StalledReaderLeavesTheWritePendingAtTheCheck) {
  const std::string path = makeFifo();
  {
    FifoReader reader(path, {/*budget*/ 0});
    ASSERT_TRUE(reader.ok());
    const auto start = Clock::now();
    EXPECT_FALSE(printBig(path, 150));
    EXPECT_GE(msSince(start), 150);
    EXPECT_LT(msSince(start), 150 + test::kLateMs);
    // The pipe holds the start of the job (a short write), and nothing more
    // arrives from anyone once the port is closed.
    ASSERT_TRUE(reader.finish());
    const std::string got = reader.received();
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), bigStream().size());
    EXPECT_EQ(got, bigStream().substr(0, got.size()));
  }
  FifoReader::Policy stalledOnePage;
  stalledOnePage.budget = 0;
  stalledOnePage.pipeSize = 4096;
  FifoReader stalled(path, stalledOnePage);
  ASSERT_TRUE(stalled.ok());
  expectThousandFailuresLeakNothing(path, true);
}

TEST_F(RealDevice, SlowReaderGetsAPrefixAndTheCallEndsOnTime) {
  const std::string path = makeFifo();
  FifoReader::Policy slow;
  slow.chunk = 4096;
  slow.pauseMs = 10;
  FifoReader reader(path, slow);
  ASSERT_TRUE(reader.ok());
  const auto start = Clock::now();
  EXPECT_FALSE(printBig(path, 200));
  const long took = msSince(start);
  EXPECT_GE(took, 200);
  EXPECT_LT(took, 200 + test::kLateMs);
  ASSERT_TRUE(reader.finish());
  const std::string got = reader.received();
  EXPECT_GT(got.size(), 65536u);  // more than one pipe's worth went through
  EXPECT_LT(got.size(), bigStream().size());
  EXPECT_EQ(got, bigStream().substr(0, got.size()));
}

TEST_F(RealDevice, ReaderThatKeepsUpGetsTheWholeJob) {
  const std::string path = makeFifo();
  FifoReader reader(path, {});
  ASSERT_TRUE(reader.ok());
  EXPECT_TRUE(printBig(path, 1000));
  ASSERT_TRUE(reader.finish());
  EXPECT_EQ(reader.received(), bigStream());
}

TEST_F(RealDevice, ReaderGoingAwayMidJobFailsWithoutASignal) {
  const std::string path = makeFifo();
  FifoReader::Policy leaves;
  leaves.budget = 10000;
  leaves.chunk = 1000;
  leaves.closeWhenDone = true;
  FifoReader reader(path, leaves);
  ASSERT_TRUE(reader.ok());
  const auto start = Clock::now();
  EXPECT_FALSE(printBig(path, 1000));  // EPIPE once the reader is gone
  EXPECT_GE(msSince(start), 1000);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  reader.finish();
  const std::string got = reader.received();
  EXPECT_EQ(got, bigStream().substr(0, got.size()));
}

}  // namespace
}  // namespace bspp
