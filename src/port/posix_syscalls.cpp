// The system calls of the POSIX port, passed straight to the system.
#include "port/posix_syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace bspp::sys {

int open(const char* path, int flags) { return ::open(path, flags); }

int flock(int fd, int operation) { return ::flock(fd, operation); }

ssize_t write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }

int poll(pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }

int close(int fd) { return ::close(fd); }

}  // namespace bspp::sys
