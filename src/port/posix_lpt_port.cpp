// The port on POSIX systems: a character device (or any file) written with
// non-blocking writes on the caller's thread until the wait is over.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "port/held_port.h"
#include "port/lpt_port.h"
#include "port/posix_syscalls.h"

namespace bspp {

const char* const kFirstParallelPort = "/dev/lp0";

namespace {

// The monotonic clock, in nanoseconds.
std::int64_t monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Sleeps until the monotonic clock reaches `deadlineNs` (signals do not cut
// the sleep short).
void sleepUntil(std::int64_t deadlineNs) {
  const timespec ts{static_cast<time_t>(deadlineNs / 1000000000),
                    static_cast<long>(deadlineNs % 1000000000)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) sys::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A reader that goes away must not kill the host process with SIGPIPE: the
// signal is blocked on this thread while writing, and one raised by our write
// is taken off the thread's pending set before the mask is restored.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &saved_);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;
  ~SigpipeGuard() {
    if (raised_ && !alreadyPending_) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  void noteBrokenPipe() { raised_ = true; }

 private:
  sigset_t saved_{};
  bool alreadyPending_ = false;
  bool raised_ = false;
};

// Cancellation of the calling thread (pthread_cancel) takes effect only
// while the port waits for the printer: in poll and in its sleeps, which are
// where a call spends its time. Through the rest of the call it is held off:
// opening, composing (fontconfig and FreeType hold locks and open files) and
// releasing, since cancellation inside a destructor would end the process.
// A port holds it off from its creation, before anything else of the call,
// to its destruction, after everything else.
class CancellationHold {
 public:
  CancellationHold() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &callerState_); }
  CancellationHold(const CancellationHold&) = delete;
  CancellationHold& operator=(const CancellationHold&) = delete;
  ~CancellationHold() {
    int ignored = 0;
    pthread_setcancelstate(callerState_, &ignored);
  }
  int callerState() const { return callerState_; }

 private:
  int callerState_ = PTHREAD_CANCEL_ENABLE;
};

// The caller's cancellation state for the length of one wait.
class CancellationWindow {
 public:
  explicit CancellationWindow(const CancellationHold& hold) {
    pthread_setcancelstate(hold.callerState(), &held_);
  }
  CancellationWindow(const CancellationWindow&) = delete;
  CancellationWindow& operator=(const CancellationWindow&) = delete;
  ~CancellationWindow() {
    int ignored = 0;
    pthread_setcancelstate(held_, &ignored);
  }

 private:
  int held_ = PTHREAD_CANCEL_DISABLE;
};

// Why the device could not be opened.
Failure openFailure(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:  // the lp driver: no printer behind the minor number
    case ENODEV:
    case ENOTDIR:
      return Failure::noSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure::permissionDenied;
    case EBUSY:  // the lp driver allows one open at a time
      return Failure::portBusy;
    default:
      return Failure::deviceError;
  }
}

// The device, opened exclusively for non-blocking writes, and the rules for
// writing to it: a printer that is slow, busy or gone.
class LockedDevice {
 public:
  explicit LockedDevice(const char* device)
      : fd_(sys::open(device, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    if (fd_.get() < 0) {
      failWith(opened_, openFailure(errno), errno);
      return;
    }
    // Exclusive while it is open: a second opener, in this process or
    // another, finds the lock taken.
    if (sys::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      fd_.reset();
      failWith(opened_, error == EWOULDBLOCK ? Failure::portBusy : Failure::deviceError, error);
    }
  }

  // Why the device could not be opened, if it could not.
  const TransferReport& opened() const { return opened_; }
  bool isOpen() const { return fd_.get() >= 0; }
  int handle() const { return fd_.get(); }
  void close() { fd_.reset(); }
  const CancellationHold& hold() const { return hold_; }

  static constexpr std::int64_t kNoDeadline = INT64_MAX;

  // Writes as much of `data` as the device takes before `deadline`, counting
  // it in `report`, which says why when not every byte went out. True when
  // every byte went out.
  bool writeUntil(const char* data, std::size_t left, std::int64_t deadline,
                  TransferReport& report) {
    SigpipeGuard guard;
    bool polledReady = false;
    std::int64_t pauseNs = kFirstPauseNs;
    for (;;) {
      // The first write is made even for an empty stream.
      const ssize_t n = sys::write(fd_.get(), data, left);
      const int error = n < 0 ? errno : 0;
      if (n > 0) {
        data += n;
        left -= static_cast<std::size_t>(n);
        report.written += static_cast<std::size_t>(n);
      } else if (error == EPIPE) {
        guard.noteBrokenPipe();
        return failWith(report, Failure::deviceError, error);
      } else if (error != 0 && error != EINTR && error != EAGAIN && error != EWOULDBLOCK) {
        // EIO: the printer is off line; ENOSPC: out of paper.
        return failWith(report, Failure::deviceError, error);
      }
      if (left == 0) return true;

      std::int64_t remainingNs = deadline - monotonicNs();
      if (remainingNs <= 0) return failWith(report, Failure::timedOut, 0);  // still pending at the check
      if (n > 0 || error == EINTR) {
        polledReady = false;
        pauseNs = kFirstPauseNs;
        continue;
      }
      // The device took nothing although poll said it could. The parallel
      // printer driver has no poll of its own, so poll answers "ready" at
      // once while every write finds the printer busy: pause instead of
      // asking again straight away.
      if (polledReady) {
        const CancellationWindow window(hold_);
        sleepUntil(monotonicNs() + std::min(pauseNs, remainingNs));
        pauseNs = std::min(pauseNs * 2, kLongestPauseNs);
        remainingNs = deadline - monotonicNs();
        if (remainingNs <= 0) continue;  // one last write at the check
      }
      // Wait until the device can take more, or the time is up.
      pollfd pfd{fd_.get(), POLLOUT, 0};
      const int timeoutMs =
          deadline == kNoDeadline
              ? -1
              : static_cast<int>(std::min<std::int64_t>((remainingNs + 999999) / 1000000, INT32_MAX));
      int ready = 0;
      int pollError = 0;
      {
        const CancellationWindow window(hold_);
        ready = sys::poll(&pfd, 1, timeoutMs);
        pollError = errno;
      }
      if (ready < 0 && pollError != EINTR) return failWith(report, Failure::deviceError, pollError);
      polledReady = ready > 0;
    }
  }

 private:
  // Pauses after a device that polled ready still took nothing: they start
  // short and double, since the printer usually frees its buffer soon.
  static constexpr std::int64_t kFirstPauseNs = 1000000;
  static constexpr std::int64_t kLongestPauseNs = 10000000;

  static bool failWith(TransferReport& report, Failure failure, int systemError) {
    report.failure = failure;
    report.systemError = systemError;
    return false;
  }

  TransferReport opened_;
  // Declared before the descriptor: held off before the device is opened,
  // given back after it is closed.
  CancellationHold hold_;
  UniqueFd fd_;
};

// The deadline `waitMs` from now; none for the wait that lasts until the
// write has ended.
std::int64_t deadlineAfter(std::uint32_t waitMs) {
  return waitMs == kWaitUntilWritten
             ? LockedDevice::kNoDeadline
             : monotonicNs() + static_cast<std::int64_t>(waitMs) * 1000000;
}

// The port of one call: the whole stream in one transfer, the wait always
// taken, the device released before the call returns.
class PosixPort final : public Port {
 public:
  explicit PosixPort(const char* device) : device_(device) { report_ = device_.opened(); }

  bool transfer(std::string_view stream, std::uint32_t waitMs) override {
    report_.total = stream.size();
    const std::int64_t deadline = deadlineAfter(waitMs);
    const bool complete =
        device_.isOpen() && device_.writeUntil(stream.data(), stream.size(), deadline, report_);
    // The endless wait ends with the write, and no later.
    if (waitMs != kWaitUntilWritten) {
      const CancellationWindow window(device_.hold());
      sleepUntil(deadline);
    }
    device_.close();
    if (complete) report_.failure = Failure::none;
    return complete;
  }

 private:
  LockedDevice device_;
};

}  // namespace

std::unique_ptr<Port> openPort(const char* device) {
  return std::make_unique<PosixPort>(device);
}

// The port held for many writes, by a program that prints job after job.
struct HeldPort::Device : LockedDevice {
  using LockedDevice::LockedDevice;
};

HeldPort::HeldPort(const char* device) : device_(std::make_unique<Device>(device)) {}

HeldPort::~HeldPort() = default;

const TransferReport& HeldPort::opened() const { return device_->opened(); }

TransferReport HeldPort::write(const char* data, std::size_t size, std::uint32_t waitMs) {
  TransferReport report = device_->opened();
  report.total = size;
  if (device_->isOpen()) device_->writeUntil(data, size, deadlineAfter(waitMs), report);
  return report;
}

int HeldPort::handle() const { return device_->handle(); }

}  // namespace bspp
