// The POSIX port against a scripted device: every way the device can fail,
// injected through the port's system calls. Each failure must give false,
// take the wait and no more, close what was opened exactly once, and never
// touch a descriptor after closing it.
#include <time.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_device.h"
#include "support.h"

namespace bspp {
namespace {

using test::Clock;
using test::msSince;

// A job of a few kilobytes: text lines and lines with double-byte characters.
std::string jobText() {
  std::string text;
  for (int line = 0; line < 40; ++line) {
    text += "line " + std::to_string(line) + " \xD6\xD0\xCE\xC4 ";
    text.resize(static_cast<std::size_t>(line + 1) * 80, line % 3 == 0 ? '.' : ' ');
  }
  return text + "end";
}

const std::string& expectedStream() {
  static const std::string stream = [] {
    test::BlankSurface surface;
    return composeJob(jobText(), false, surface);
  }();
  return stream;
}

bool print(std::uint32_t waitMs, const std::string& text = jobText()) {
  auto platform = test::devicePlatform("/dev/lp0");
  return printJob(platform, text.data(), static_cast<std::int32_t>(text.size() - 1), waitMs, 0);
}

struct Outcome {
  bool result;
  long ms;
  fake::Record record;
};

Outcome run(const fake::Script& script, std::uint32_t waitMs) {
  fake::reset(script);
  const auto start = Clock::now();
  const bool result = print(waitMs);
  const long ms = msSince(start);
  return {result, ms, fake::record()};
}

// Checks the rules every call keeps, whatever the device did.
void expectReleased(const Outcome& o) {
  // Every descriptor opened is closed, and closed once.
  EXPECT_EQ(fake::openDescriptors(), 0);
  EXPECT_EQ(o.record.callsOnClosedDescriptor, 0);
  // What reached the device is the start of the job, in order.
  EXPECT_EQ(o.record.received, expectedStream().substr(0, o.record.received.size()));
}

void expectOnTime(const Outcome& o, std::uint32_t waitMs) {
  EXPECT_GE(o.ms, static_cast<long>(waitMs));
  EXPECT_LT(o.ms, static_cast<long>(waitMs) + test::kLateMs);
}

TEST(PortFaults, DeviceThatTakesEverythingSucceeds) {
  for (std::uint32_t waitMs : {0u, 30u}) {
    const Outcome o = run({}, waitMs);
    EXPECT_TRUE(o.result);
    expectOnTime(o, waitMs);
    EXPECT_EQ(o.record.received, expectedStream());
    EXPECT_EQ(o.record.opens, 1);
    EXPECT_EQ(o.record.closes, 1);
    expectReleased(o);
  }
}

TEST(PortFaults, ShortWritesThatAddUpAndInterruptionsStillSucceed) {
  fake::Script script;
  script.perWrite = 61;
  script.interruptedWrites = 3;
  const Outcome o = run(script, 500);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.record.received, expectedStream());
  expectReleased(o);
}

TEST(PortFaults, AbsentDeviceFailsAfterTheWait) {
  for (int error : {ENOENT, ENXIO, EACCES, ENODEV}) {
    fake::Script script;
    script.openError = error;
    const Outcome o = run(script, 60);
    EXPECT_FALSE(o.result);
    expectOnTime(o, 60);
    EXPECT_EQ(o.record.writes, 0);
    EXPECT_EQ(o.record.closes, 0);
    expectReleased(o);
  }
}

TEST(PortFaults, BusyDeviceIsClosedAgainAndNeverWritten) {
  fake::Script script;
  script.flockError = EWOULDBLOCK;
  const Outcome o = run(script, 60);
  EXPECT_FALSE(o.result);
  expectOnTime(o, 60);
  EXPECT_EQ(o.record.writes, 0);
  EXPECT_EQ(o.record.opens, 1);
  EXPECT_EQ(o.record.closes, 1);
  expectReleased(o);
}

TEST(PortFaults, WriteFailingAtOnceGivesUpWithoutRetrying) {
  for (int error : {EIO, EPIPE, ENOSPC, EBADF}) {
    fake::Script script;
    script.capacity = 0;
    script.whenFull = error;
    const Outcome o = run(script, 60);
    EXPECT_FALSE(o.result) << error;
    expectOnTime(o, 60);
    EXPECT_EQ(o.record.writes, 1);
    EXPECT_EQ(o.record.received, "");
    expectReleased(o);
  }
}

TEST(PortFaults, DeviceThatNeverTakesAByteIsPendingAtTheCheck) {
  fake::Script script;
  script.capacity = 0;  // EAGAIN forever
  const Outcome o = run(script, 150);
  EXPECT_FALSE(o.result);
  expectOnTime(o, 150);
  // The port waits in poll for the device, it does not spin on write.
  EXPECT_LT(o.record.writes, 20);
  expectReleased(o);
}

TEST(PortFaults, ShortWriteThenErrorFails) {
  fake::Script script;
  script.capacity = 1000;
  script.whenFull = EIO;
  const Outcome o = run(script, 40);
  EXPECT_FALSE(o.result);
  expectOnTime(o, 40);
  EXPECT_EQ(o.record.received.size(), 1000u);
  expectReleased(o);
}

TEST(PortFaults, ShortWriteThenStallIsPendingAtTheCheck) {
  fake::Script script;
  script.capacity = 1000;
  const Outcome o = run(script, 100);
  EXPECT_FALSE(o.result);
  expectOnTime(o, 100);
  EXPECT_EQ(o.record.received.size(), 1000u);
  expectReleased(o);
}

TEST(PortFaults, SlowDeviceTakesWhatItCanUntilTheCheck) {
  // 256 bytes every 10 ms: far too slow for the job within 100 ms.
  fake::Script script;
  script.perWrite = 256;
  script.busyMsAfterWrite = 10;
  const Outcome o = run(script, 100);
  EXPECT_FALSE(o.result);
  expectOnTime(o, 100);
  EXPECT_GT(o.record.received.size(), 0u);
  EXPECT_LT(o.record.received.size(), expectedStream().size());
  expectReleased(o);

  // The same device with time enough gets the whole job.
  const Outcome slow = run(script, 3000);
  EXPECT_TRUE(slow.result);
  EXPECT_EQ(slow.record.received, expectedStream());
  expectReleased(slow);
}

TEST(PortFaults, EmptyJobIsOneZeroByteWrite) {
  fake::reset({});
  auto platform = test::devicePlatform("/dev/lp0");
  EXPECT_TRUE(printJob(platform, nullptr, -1, 0, 0));
  const fake::Record r = fake::record();
  EXPECT_EQ(r.writes, 1);
  EXPECT_EQ(r.received, "");
  EXPECT_EQ(r.closes, 1);

  // A device that cannot take anything still completes a zero-byte write.
  fake::Script stalled;
  stalled.capacity = 0;
  fake::reset(stalled);
  EXPECT_TRUE(printJob(platform, nullptr, -1, 0, 0));
}

// What a failed call reports, for each way the device can refuse the job.
TEST(PortFaults, FailureReasonsNameWhatTheDeviceDid) {
  struct Case {  // the device's script, then the report expected
    const char* what;
    int openError, flockError;
    std::size_t capacity;
    int whenFull;
    Failure failure;
    int systemError;
  };
  constexpr std::size_t kAll = fake::kUnlimited;
  const Case cases[] = {
      {"absent", ENOENT, 0, kAll, 0, Failure::noSuchPort, ENOENT},
      {"no printer behind lp", ENXIO, 0, kAll, 0, Failure::noSuchPort, ENXIO},
      {"no driver", ENODEV, 0, kAll, 0, Failure::noSuchPort, ENODEV},
      {"not ours", EACCES, 0, kAll, 0, Failure::permissionDenied, EACCES},
      {"not permitted", EPERM, 0, kAll, 0, Failure::permissionDenied, EPERM},
      {"read-only", EROFS, 0, kAll, 0, Failure::permissionDenied, EROFS},
      {"lp opened elsewhere", EBUSY, 0, kAll, 0, Failure::portBusy, EBUSY},
      {"locked by another call", 0, EWOULDBLOCK, kAll, 0, Failure::portBusy, EWOULDBLOCK},
      {"off line", 0, 0, 0, EIO, Failure::deviceError, EIO},
      {"out of paper", 0, 0, 500, ENOSPC, Failure::deviceError, ENOSPC},
      {"reader gone", 0, 0, 0, EPIPE, Failure::deviceError, EPIPE},
      {"reader gone mid-job", 0, 0, 100, EPIPE, Failure::deviceError, EPIPE},
      {"stalled", 0, 0, 700, EAGAIN, Failure::timedOut, 0},
  };
  const std::string text = jobText();
  for (const Case& c : cases) {
    fake::Script script;
    script.openError = c.openError;
    script.flockError = c.flockError;
    script.capacity = c.capacity;
    script.whenFull = c.whenFull;
    fake::reset(script);
    auto platform = test::devicePlatform("/dev/lp0");
    JobReport report;
    EXPECT_FALSE(printJob(platform, text.data(), static_cast<std::int32_t>(text.size() - 1), 20, 0,
                          &report))
        << c.what;
    EXPECT_EQ(report.transfer.failure, c.failure) << c.what;
    EXPECT_EQ(report.transfer.systemError, c.systemError) << c.what;
    const fake::Record r = fake::record();
    EXPECT_EQ(report.transfer.written, r.received.size()) << c.what;
    EXPECT_EQ(report.transfer.total, expectedStream().size()) << c.what;
    // What was opened is closed, once, and nothing is touched after.
    EXPECT_EQ(fake::openDescriptors(), 0) << c.what;
    EXPECT_EQ(r.closes, c.openError != 0 ? 0 : 1) << c.what;
    EXPECT_EQ(r.callsOnClosedDescriptor, 0) << c.what;
  }
}

struct Timed {
  bool result;
  long ms;
  double cpuMs;  // processor time of this thread
  TransferReport report;
  fake::Record record;
};

// One transfer of the expected stream through the port alone, timed.
Timed transferTimed(const fake::Script& script, std::uint32_t waitMs) {
  const auto cpuMs = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
  };
  fake::reset(script);
  auto port = openPort("/dev/lp0");
  const double cpuBefore = cpuMs();
  const auto start = Clock::now();
  const bool result = port->transfer(expectedStream(), waitMs);
  return {result, msSince(start), cpuMs() - cpuBefore, port->report(), fake::record()};
}

// The parallel printer driver has no poll method: poll answers "ready" at
// once, and a busy printer answers every write with EAGAIN. The port must
// neither spin on that nor overrun the wait.
TEST(PortFaults, PrinterDriverWithoutPollIsNotSpunOn) {
  fake::Script busy;
  busy.capacity = 0;  // EAGAIN for ever
  busy.pollAlwaysReady = true;
  for (std::uint32_t waitMs : {0u, 7u, 300u}) {
    const Timed t = transferTimed(busy, waitMs);
    EXPECT_FALSE(t.result);
    EXPECT_EQ(t.report.failure, Failure::timedOut);
    EXPECT_GE(t.ms, static_cast<long>(waitMs));
    EXPECT_LT(t.ms, static_cast<long>(waitMs) + 80);
    // A spinning port makes hundreds of thousands of writes a second and
    // uses the whole wait in processor time.
    EXPECT_LE(t.record.writes, static_cast<int>(waitMs / 5 + 8));
    EXPECT_LT(t.cpuMs, 5 + waitMs / 20.0);
  }
}

// An endless wait lasts until the write ends, then the call returns.
TEST(PortFaults, EndlessWaitEndsWithTheWrite) {
  fake::Script slow;  // 512 bytes every 4 ms: about 100 ms for the job
  slow.perWrite = 512;
  slow.busyMsAfterWrite = 4;
  for (bool pollAlwaysReady : {false, true}) {
    slow.pollAlwaysReady = pollAlwaysReady;
    const Timed t = transferTimed(slow, kWaitUntilWritten);
    EXPECT_TRUE(t.result);
    EXPECT_EQ(t.record.received, expectedStream());
    const long printerMs = static_cast<long>(expectedStream().size() / 512) * 4;
    EXPECT_GE(t.ms, printerMs);
    EXPECT_LT(t.ms, printerMs + 1000);
  }
  // The whole call, with an endless wait, a port that is absent or off line.
  fake::Script absent, offline;
  absent.openError = ENOENT;
  offline.capacity = 0;
  offline.whenFull = EIO;
  for (const fake::Script& failing : {absent, offline}) {
    const Outcome o = run(failing, kWaitUntilWritten);
    EXPECT_FALSE(o.result);
    EXPECT_LT(o.ms, test::kLateMs);
    expectReleased(o);
  }
}

}  // namespace
}  // namespace bspp
