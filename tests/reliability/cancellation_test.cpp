// A host thread cancelled (pthread_cancel) while a call waits for the
// printer: the call unwinds with the thread, releasing the port, its lock and
// its descriptors on the way, restores the thread's signal mask, and the
// process goes on.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
  bool sigpipeBlocked = true;  // once the call had unwound
};

// Destroyed when the host's thread function ends, also by cancellation.
struct UnwindWitness {
  HostCall& call;
  ~UnwindWitness() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    call.sigpipeBlocked = sigismember(&mask, SIGPIPE) == 1;
  }
};

void* hostThread(void* arg) {
  auto& call = *static_cast<HostCall*>(arg);
  UnwindWitness witness{call};
  const auto last = static_cast<std::int32_t>(call.text.size()) - 1;
  if (call.print != nullptr) {
    call.print(call.text.data(), last, 60000, 0);
  } else {
    auto platform = test::devicePlatform(call.device);
    printJob(platform, call.text.data(), last, 60000, 0);
  }
  return nullptr;
}

// Starts `call` on its thread, cancels it once `inWait` holds (or after 5 s)
// and joins it; the thread must end by cancellation, soon, having unwound.
void cancelMidWait(HostCall& call, const std::function<bool()>& inWait) {
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, hostThread, &call), 0);
  for (const auto start = Clock::now(); !inWait() && msSince(start) < 5000;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto start = Clock::now();
  pthread_cancel(thread);
  void* result = nullptr;
  pthread_join(thread, &result);
  EXPECT_EQ(result, PTHREAD_CANCELED);
  EXPECT_LT(msSince(start), 2000);
  EXPECT_FALSE(call.sigpipeBlocked);
}

TEST(Cancellation, ThreadCancelledWhilePrinterIsStalledReleasesThePort) {
  test::TempDir dir;
  const std::string fifo = dir.file("lp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A printer that takes one pipe's worth and then nothing.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int before = test::openDescriptorCount();

  HostCall call;
  call.device = fifo;
  for (int i = 0; i < 2000; ++i) {  // far more than a pipe holds
    std::string line = "line " + std::to_string(i) + " \xB2\xE2\xCA\xD4";
    line.resize(80, '.');
    call.text += line;
  }
  cancelMidWait(call, [reader] {
    int queued = 0;
    return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= 65536;
  });
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

TEST(Cancellation, ThreadCancelledInTheExportedCallsWaitEndsAndTheProcessLives) {
  if (::access("/dev/lp0", F_OK) == 0) GTEST_SKIP() << "a printer port is present";
  void* library = ::dlopen(BSPP_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(library, nullptr) << ::dlerror();
  const auto print = reinterpret_cast<BSPPringFn>(::dlsym(library, "BSPPring"));
  ASSERT_NE(print, nullptr);
  const int before = test::openDescriptorCount();
  // Early rounds cancel before the wait has begun: cancellation is held off
  // through composition and takes effect in the wait.
  for (long delayMs : {0, 1, 2, 3, 5, 8, 100, 100}) {
    HostCall call;
    call.print = print;
    call.text = "HELLO \xB0\xA1";
    const auto started = Clock::now();
    cancelMidWait(call, [&] { return msSince(started) >= delayMs; });
  }
  EXPECT_EQ(test::openDescriptorCount(), before);
  ::dlclose(library);
}

}  // namespace
}  // namespace bspp
