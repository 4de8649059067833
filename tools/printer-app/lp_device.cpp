#include "lp_device.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/lp.h>
#include <pappl/pappl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "port/lpt_port.h"

namespace bspp::printer_app {
namespace {

// The port's wait that lasts until the write has ended: a slow printer is
// waited for, one that reports an error (off line, out of paper) ends the
// write at once with that error.
constexpr std::uint32_t kUntilWritten = 0xFFFFFFFF;
// How long another program may hold the port before the job fails.
constexpr int kBusyRetries = 30;

struct ParallelDevice {
  std::string path;
  bspp::Failure lastFailure = bspp::Failure::none;
  int lastError = 0;  // errno of the last failed write
};

ParallelDevice* dataOf(pappl_device_t* device) {
  return static_cast<ParallelDevice*>(papplDeviceGetData(device));
}

bool listDevices(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
  for (const char* pattern : {"/dev/lp[0-9]*", "/dev/usb/lp[0-9]*"}) {
    glob_t found{};
    if (glob(pattern, 0, nullptr, &found) == 0) {
      for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        const std::string uri = std::string("parallel:") + found.gl_pathv[i];
        const std::string info = std::string("Parallel port ") + found.gl_pathv[i];
        if (cb(info.c_str(), uri.c_str(), "", data)) {
          globfree(&found);
          return true;
        }
      }
    }
    globfree(&found);
  }
  return false;
}

// The device path from "parallel:/dev/lp0" or "parallel:///dev/lp0".
std::string pathOf(const char* uri) {
  std::string path = std::strchr(uri, ':') != nullptr ? std::strchr(uri, ':') + 1 : "";
  while (path.compare(0, 2, "//") == 0) path.erase(0, 1);
  return path;
}

bool openDevice(pappl_device_t* device, const char* uri, const char*) {
  const std::string path = pathOf(uri);
  if (path.compare(0, 5, "/dev/") != 0) {
    papplDeviceError(device, "'%s' is not a printer port under /dev.", uri);
    return false;
  }
  // The port itself is opened (exclusively) for each write; here only
  // whether it can be opened at all is checked, so that a missing or
  // forbidden port stops the queue with a reason instead of failing jobs.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      papplDeviceError(device, "Permission denied on %s (is the user in the lp group?)",
                       path.c_str());
    } else {
      papplDeviceError(device, "Cannot open %s: %s", path.c_str(), std::strerror(error));
    }
    return false;
  }
  ::close(fd);
  auto* d = new (std::nothrow) ParallelDevice{path};
  if (d == nullptr) return false;
  papplDeviceSetData(device, d);
  return true;
}

void closeDevice(pappl_device_t* device) {
  delete dataOf(device);
  papplDeviceSetData(device, nullptr);
}

ssize_t writeDevice(pappl_device_t* device, const void* buffer, std::size_t bytes) {
  ParallelDevice* d = dataOf(device);
  if (d == nullptr) return -1;
  const std::string data(static_cast<const char*>(buffer), bytes);
  for (int attempt = 0;; ++attempt) {
    // Opened exclusively for each write, as the library opens it per call.
    std::unique_ptr<bspp::Port> port = bspp::openPort(d->path.c_str());
    if (port->transfer(data, kUntilWritten)) {
      d->lastFailure = bspp::Failure::none;
      d->lastError = 0;
      return static_cast<ssize_t>(bytes);
    }
    const bspp::TransferReport r = port->report();
    d->lastFailure = r.failure == bspp::Failure::none ? bspp::Failure::deviceError : r.failure;
    d->lastError = r.systemError;
    if (d->lastFailure == bspp::Failure::portBusy && r.written == 0 && attempt < kBusyRetries) {
      ::sleep(1);
      continue;
    }
    papplDeviceError(device, "%s: %s%s%s; the printer took %zu of %zu bytes", d->path.c_str(),
                     bspp::describe(d->lastFailure), r.systemError != 0 ? ": " : "",
                     r.systemError != 0 ? std::strerror(r.systemError) : "", r.written, bytes);
    return -1;
  }
}

// What the port reports about the printer (LPGETSTATUS), and what the last
// write found.
pappl_preason_t deviceStatus(pappl_device_t* device) {
  ParallelDevice* d = dataOf(device);
  if (d == nullptr) return PAPPL_PREASON_NONE;
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  const int fd = ::open(d->path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    // Busy: another program is printing, which says nothing about paper.
    if (errno != EBUSY) reasons |= PAPPL_PREASON_OFFLINE;
  } else {
    int status = 0;
    if (::ioctl(fd, LPGETSTATUS, &status) == 0) {
      if ((status & LP_POUTPA) != 0) reasons |= PAPPL_PREASON_MEDIA_EMPTY;
      if ((status & LP_PSELECD) == 0) reasons |= PAPPL_PREASON_OFFLINE;
      if ((status & LP_PERRORP) == 0 && reasons == PAPPL_PREASON_NONE) {
        reasons |= PAPPL_PREASON_OTHER;
      }
    }
    ::close(fd);
  }
  switch (d->lastFailure) {
    case bspp::Failure::none: break;
    case bspp::Failure::timedOut:
    case bspp::Failure::noSuchPort: reasons |= PAPPL_PREASON_OFFLINE; break;
    case bspp::Failure::deviceError:
      // The lp driver ends a write with ENOSPC when the paper is out and
      // with EIO when the printer is off line or reports an error.
      if (d->lastError == ENOSPC) {
        reasons |= PAPPL_PREASON_MEDIA_EMPTY;
      } else if (d->lastError == EIO) {
        reasons |= PAPPL_PREASON_OFFLINE;
      } else {
        reasons |= PAPPL_PREASON_OTHER;
      }
      break;
    default: reasons |= PAPPL_PREASON_OTHER; break;
  }
  return reasons;
}

}  // namespace

void addParallelScheme() {
  // PAPPL makes its own schemes (file, socket, usb, ...) when the list is
  // first used; asking it about one makes sure they are there before ours.
  (void)papplDeviceIsSupported("socket://localhost");
  papplDeviceAddScheme("parallel", PAPPL_DEVTYPE_CUSTOM_LOCAL, listDevices, openDevice,
                       closeDevice, nullptr, writeDevice, deviceStatus, nullptr);
}

}  // namespace bspp::printer_app
