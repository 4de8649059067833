// The system calls of the POSIX port, passed straight to the system.
#include "port/posix_syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace bspp::sys {

int open(const char* path, int flags) { return ::open(path, flags); }

int flock(int fd, int operation) { return ::flock(fd, operation); }

ssize_t write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }

int poll(pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }

int close(int fd) { return ::close(fd); }

std::int64_t monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil(std::int64_t deadlineNs) {
  const timespec ts{static_cast<time_t>(deadlineNs / 1000000000),
                    static_cast<long>(deadlineNs % 1000000000)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

}  // namespace bspp::sys
