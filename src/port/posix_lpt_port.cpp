// The port on POSIX systems: a character device (or any file) written with
// non-blocking writes on the caller's thread until the wait is over.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "port/lpt_port.h"
#include "port/posix_syscalls.h"

namespace bspp {

const char* const kFirstParallelPort = "/dev/lp0";

namespace {

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

class PosixPort final : public Port {
 public:
  explicit PosixPort(const char* device)
      : fd_(sys::open(device, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    if (fd_.get() < 0) {
      failWith(openFailure(errno), errno);
      return;
    }
    // Exclusive for the whole call: a second opener, in this process or
    // another, finds the lock taken.
    if (sys::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      fd_.reset();
      failWith(error == EWOULDBLOCK ? Failure::portBusy : Failure::deviceError, error);
    }
  }

  bool transfer(const std::string& stream, std::uint32_t waitMs) override {
    report_.total = stream.size();
    const std::int64_t deadline = sys::monotonicNs() + static_cast<std::int64_t>(waitMs) * 1000000;
    const bool complete = fd_.get() >= 0 && writeUntil(stream, deadline);
    sys::sleepUntil(deadline);
    fd_.reset();
    if (complete) report_.failure = Failure::none;
    return complete;
  }

 private:
  // Writes as much of `stream` as the device takes before `deadline`.
  // True when every byte went out.
  bool writeUntil(const std::string& stream, std::int64_t deadline) {
    SigpipeGuard guard;
    const char* data = stream.data();
    std::size_t left = stream.size();
    for (;;) {
      // The first write is made even for an empty stream.
      const ssize_t n = sys::write(fd_.get(), data, left);
      const int error = n < 0 ? errno : 0;
      if (n > 0) {
        data += n;
        left -= static_cast<std::size_t>(n);
        report_.written += static_cast<std::size_t>(n);
      } else if (error == EPIPE) {
        guard.noteBrokenPipe();
        return failWith(Failure::deviceError, error);
      } else if (error != 0 && error != EINTR && error != EAGAIN && error != EWOULDBLOCK) {
        // EIO: the printer is off line; ENOSPC: out of paper.
        return failWith(Failure::deviceError, error);
      }
      if (left == 0) return true;

      const std::int64_t remainingNs = deadline - sys::monotonicNs();
      if (remainingNs <= 0) return failWith(Failure::timedOut, 0);  // still pending at the check
      if (n > 0 || error == EINTR) continue;
      // The device took nothing: wait until it can take more, or the time is up.
      pollfd pfd{fd_.get(), POLLOUT, 0};
      const auto timeoutMs = static_cast<int>(
          std::min<std::int64_t>((remainingNs + 999999) / 1000000, INT32_MAX));
      if (sys::poll(&pfd, 1, timeoutMs) < 0 && errno != EINTR) {
        return failWith(Failure::deviceError, errno);
      }
    }
  }

  bool failWith(Failure failure, int systemError) {
    report_.failure = failure;
    report_.systemError = systemError;
    return false;
  }

  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<Port> openPort(const char* device) {
  return std::make_unique<PosixPort>(device);
}

}  // namespace bspp
