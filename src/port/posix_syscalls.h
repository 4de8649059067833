// The system calls the POSIX port makes on its device, behind one small seam.
// The library links posix_syscalls.cpp, which passes each call straight to
// the system; the fault tests link their own implementation of these
// functions instead and so decide what the "device" answers. Time is not
// part of the seam: the port keeps it with the system's clock, also in the
// fault tests.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>

namespace bspp::sys {

// open(2), flock(2), write(2), poll(2) and close(2), with errno set as the
// system sets it.
int open(const char* path, int flags);
int flock(int fd, int operation);
ssize_t write(int fd, const void* data, std::size_t size);
int poll(pollfd* fds, nfds_t count, int timeoutMs);
int close(int fd);

}  // namespace bspp::sys
