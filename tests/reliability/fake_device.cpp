// The scripted device: stands in for port/posix_syscalls.cpp at link time.
#include "fake_device.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

#include "port/posix_syscalls.h"

namespace bspp {
namespace fake {
namespace {

constexpr int kFirstFakeFd = 9000;  // never a real descriptor of the test

struct Device {
  std::mutex mutex;
  Script script;
  Record record;
  std::set<int> open;
  int nextFd = kFirstFakeFd;
  bool busy = false;  // a slow device that has just taken bytes
  std::int64_t busyUntilNs = 0;  // when it is ready again, without a poll method
  int interruptsLeft = 0;
};

Device& device() {
  static Device d;
  return d;
}

// Now, in nanoseconds: the device's own sense of time, for how long it stays busy.
std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool isOpen(Device& d, int fd) {
  if (d.open.count(fd) != 0) return true;
  ++d.record.callsOnClosedDescriptor;
  return false;
}

}  // namespace

void reset(const Script& script) {
  Device& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.script = script;
  d.record = Record{};
  d.busy = false;
  d.interruptsLeft = script.interruptedWrites;
}

Record record() {
  Device& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.record;
}

int openDescriptors() {
  Device& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  return static_cast<int>(d.open.size());
}

}  // namespace fake

namespace sys {

using fake::device;

int open(const char*, int) {
  auto& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  ++d.record.opens;
  if (d.script.openError != 0) {
    errno = d.script.openError;
    return -1;
  }
  const int fd = d.nextFd++;
  d.open.insert(fd);
  return fd;
}

int flock(int fd, int) {
  auto& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  ++d.record.flocks;
  if (!fake::isOpen(d, fd)) {
    errno = EBADF;
    return -1;
  }
  if (d.script.flockError != 0) {
    errno = d.script.flockError;
    return -1;
  }
  return 0;
}

ssize_t write(int fd, const void* data, std::size_t size) {
  auto& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  ++d.record.writes;
  if (!fake::isOpen(d, fd)) {
    errno = EBADF;
    return -1;
  }
  if (d.interruptsLeft > 0) {
    --d.interruptsLeft;
    errno = EINTR;
    return -1;
  }
  if (d.busy && d.script.pollAlwaysReady && fake::nowNs() >= d.busyUntilNs) d.busy = false;
  if (d.busy) {
    errno = EAGAIN;
    return -1;
  }
  const std::size_t room = d.script.capacity - std::min(d.script.capacity, d.record.received.size());
  if (room == 0 && size > 0) {
    errno = d.script.whenFull;
    return -1;
  }
  const std::size_t n = std::min({size, room, d.script.perWrite});
  d.record.received.append(static_cast<const char*>(data), n);
  if (n > 0 && d.script.busyMsAfterWrite > 0) {
    d.busy = true;
    d.busyUntilNs = fake::nowNs() + std::int64_t{d.script.busyMsAfterWrite} * 1000000;
  }
  return static_cast<ssize_t>(n);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
  int waitMs = timeoutMs;
  {
    auto& d = device();
    std::lock_guard<std::mutex> lock(d.mutex);
    ++d.record.polls;
    for (nfds_t i = 0; i < count; ++i) {
      if (!fake::isOpen(d, fds[i].fd)) {
        errno = EBADF;
        return -1;
      }
    }
    if (d.script.pollAlwaysReady) {
      for (nfds_t i = 0; i < count; ++i) fds[i].revents = POLLOUT;
      return static_cast<int>(count);
    }
    if (d.busy) {
      // Writable again after the device's pause, if the caller waits that long.
      if (timeoutMs < 0 || timeoutMs >= d.script.busyMsAfterWrite) {
        waitMs = d.script.busyMsAfterWrite;
        d.busy = false;
      }
    }
  }
  // Real time passes while the caller waits; a stalled device never wakes it.
  const timespec pause{waitMs / 1000, static_cast<long>(waitMs % 1000) * 1000000};
  if (waitMs > 0) ::nanosleep(&pause, nullptr);
  auto& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  const std::size_t room = d.script.capacity - std::min(d.script.capacity, d.record.received.size());
  const bool writable = !d.busy && (room > 0 || d.script.whenFull != EAGAIN);
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = writable ? POLLOUT : 0;
  return writable ? static_cast<int>(count) : 0;
}

int close(int fd) {
  auto& d = device();
  std::lock_guard<std::mutex> lock(d.mutex);
  ++d.record.closes;
  if (d.open.erase(fd) == 0) {
    ++d.record.callsOnClosedDescriptor;
    errno = EBADF;
    return -1;
  }
  return 0;
}

}  // namespace sys
}  // namespace bspp
