// A host thread cancelled (pthread_cancel) while a call waits for the
// printer: the call unwinds with the thread, releasing the port, its lock and
// its descriptors on the way, restores the thread's signal mask, and the
// process goes on. A host that holds cancellation off keeps it held off.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "bspp.h"
#include "support.h"

namespace bspp {
namespace {

using test::Clock;
using test::msSince;

// One call made on a host thread of its own: through the loaded shared
// library when `print` is set, else through printJob on `device`.
struct HostCall {
  BSPPringFn print = nullptr;
  std::string device;
  std::string text;
  std::uint32_t waitMs = 0;
  int cancelState = PTHREAD_CANCEL_ENABLE;  // the host's own setting

  std::atomic<bool> returned{false};
  // What the thread looked like once the call had unwound.
  std::atomic<bool> unwound{false};
  bool sigpipeBlocked = true;
  int cancelStateAfter = -1;
};

// Destroyed when the host's thread function ends, also by cancellation.
class UnwindWitness {
 public:
  explicit UnwindWitness(HostCall& call) : call_(call) {}
  UnwindWitness(const UnwindWitness&) = delete;
  UnwindWitness& operator=(const UnwindWitness&) = delete;
  ~UnwindWitness() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    call_.sigpipeBlocked = sigismember(&mask, SIGPIPE) == 1;
    int state = -1;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    call_.cancelStateAfter = state;
    if (!call_.returned) call_.unwound = true;
  }

 private:
  HostCall& call_;
};

void* hostThread(void* arg) {
  auto& call = *static_cast<HostCall*>(arg);
  int ignored = 0;
  pthread_setcancelstate(call.cancelState, &ignored);
  UnwindWitness witness(call);
  const auto last = static_cast<std::int32_t>(call.text.size()) - 1;
  if (call.print != nullptr) {
    call.print(call.text.data(), last, call.waitMs, 0);
  } else {
    auto platform = test::devicePlatform(call.device);
    printJob(platform, call.text.data(), last, call.waitMs, 0);
  }
  call.returned = true;
  return nullptr;
}

// A text whose stream is far more than a pipe holds.
std::string bigText() {
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    std::string line = "line " + std::to_string(i) + " \xB2\xE2\xCA\xD4";
    line.resize(80, '.');
    text += line;
  }
  return text;
}

bool waitFor(const std::function<bool()>& condition, long ms) {
  const auto start = Clock::now();
  while (!condition()) {
    if (msSince(start) > ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class Cancellation : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::dlopen(BSPP_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    print_ = reinterpret_cast<BSPPringFn>(::dlsym(library_, "BSPPring"));
    ASSERT_NE(print_, nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) ::dlclose(library_);
  }

  // Starts `call` on its thread, cancels it once `inWait` holds (or after
  // 200 ms) and joins it. True when the thread ended by cancellation.
  static bool cancelMidWait(HostCall& call, const std::function<bool()>& inWait, long* joinMs) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, hostThread, &call) != 0) return false;
    waitFor(inWait, 5000);
    const auto start = Clock::now();
    pthread_cancel(thread);
    void* result = nullptr;
    pthread_join(thread, &result);
    *joinMs = msSince(start);
    return result == PTHREAD_CANCELED;
  }

  void* library_ = nullptr;
  BSPPringFn print_ = nullptr;
};

TEST_F(Cancellation, ThreadCancelledWhilePrinterIsStalledReleasesThePort) {
  test::TempDir dir;
  const std::string fifo = dir.file("lp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A printer that takes one pipe's worth and then nothing.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int before = test::openDescriptorCount();

  HostCall call;
  call.device = fifo;
  call.text = bigText();
  call.waitMs = 60000;
  auto pipeFull = [reader] {
    int queued = 0;
    return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= 65536;
  };
  long joinMs = 0;
  EXPECT_TRUE(cancelMidWait(call, pipeFull, &joinMs));
  EXPECT_LT(joinMs, 2000);
  EXPECT_TRUE(call.unwound);
  EXPECT_FALSE(call.returned);
  // The call's signal mask and cancellation state were the host's again.
  EXPECT_FALSE(call.sigpipeBlocked);
  EXPECT_EQ(call.cancelStateAfter, PTHREAD_CANCEL_ENABLE);

  EXPECT_EQ(test::openDescriptorCount(), before);
  // Neither the descriptor nor its lock outlived the thread.
  const int other = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);

  // The next call gets the port and prints.
  char drain[65536];
  while (::read(reader, drain, sizeof drain) > 0) {
  }
  auto platform = test::devicePlatform(fifo);
  EXPECT_TRUE(printJob(platform, "after", 4, 50, 1));
  ::close(reader);
}

TEST_F(Cancellation, ThreadCancelledInTheExportedCallsWaitEndsAndTheProcessLives) {
  if (::access("/dev/lp0", F_OK) == 0) GTEST_SKIP() << "a printer port is present";
  const int before = test::openDescriptorCount();
  for (int round = 0; round < 20; ++round) {
    HostCall call;
    call.print = print_;
    call.text = "HELLO \xB0\xA1";
    call.waitMs = 60000;
    const auto started = Clock::now();
    long joinMs = 0;
    // Early rounds cancel before the wait has begun: cancellation is held
    // off through composition and takes effect in the wait.
    const long delayMs = round < 10 ? round : 100;
    ASSERT_TRUE(cancelMidWait(
        call, [&] { return msSince(started) >= delayMs; }, &joinMs))
        << "round " << round;
    EXPECT_LT(joinMs, 2000);
    EXPECT_TRUE(call.unwound);
    EXPECT_FALSE(call.sigpipeBlocked);
  }
  EXPECT_EQ(test::openDescriptorCount(), before);
}

TEST_F(Cancellation, HostThatHoldsCancellationOffGetsItsWholeCall) {
  if (::access("/dev/lp0", F_OK) == 0) GTEST_SKIP() << "a printer port is present";
  HostCall call;
  call.print = print_;
  call.text = "HELLO";
  call.waitMs = 300;
  call.cancelState = PTHREAD_CANCEL_DISABLE;
  const auto start = Clock::now();
  long joinMs = 0;
  EXPECT_FALSE(cancelMidWait(
      call, [&] { return msSince(start) >= 50; }, &joinMs));
  EXPECT_TRUE(call.returned);
  EXPECT_GE(msSince(start), 300);
  EXPECT_EQ(call.cancelStateAfter, PTHREAD_CANCEL_DISABLE);
}

}  // namespace
}  // namespace bspp
