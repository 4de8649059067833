#include "lp_device.h"

#include <glob.h>
#include <linux/lp.h>
#include <pappl/pappl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "callback.h"
#include "port/held_port.h"

namespace bspp::printer_app {
namespace {

// How long one write waits for a printer that takes nothing before it asks
// whether to stop.
constexpr std::uint32_t kWriteSliceMs = 250;

thread_local std::function<bool()> tStop;

struct ParallelDevice {
  std::string path;
  std::unique_ptr<HeldPort> port;
  Failure lastFailure = Failure::none;
  int lastError = 0;  // errno behind the last failed write
};

ParallelDevice* dataOf(pappl_device_t* device) {
  return static_cast<ParallelDevice*>(papplDeviceGetData(device));
}

bool listPorts(pappl_device_cb_t cb, void* data) {
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
  const char* colon = std::strchr(uri, ':');
  std::string path = colon != nullptr ? colon + 1 : "";
  while (path.compare(0, 2, "//") == 0) path.erase(0, 1);
  return path;
}

bool openPort(pappl_device_t* device, const char* uri) {
  const std::string path = pathOf(uri);
  // Only a character device, wherever a link leads: a port is never a file.
  char resolved[PATH_MAX];
  struct stat st {};
  if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &st) != 0) {
    TransferReport missing;
    missing.failure = Failure::noSuchPort;
    papplDeviceError(device, "%s", failureWords(missing, path, kWaitUntilWritten).phrase().c_str());
    return false;
  }
  if (!S_ISCHR(st.st_mode)) {
    papplDeviceError(device, "%s is not a printer port (a character device).", path.c_str());
    return false;
  }
  auto d = std::unique_ptr<ParallelDevice>(new (std::nothrow) ParallelDevice);
  if (!d) return false;
  d->path = path;
  // Held, exclusively, until the device is closed: no other program prints
  // between the pages of a job.
  d->port = std::make_unique<HeldPort>(resolved);
  const TransferReport& opened = d->port->opened();
  if (opened.failure != Failure::none) {
    papplDeviceError(device, "%s", failureWords(opened, path, kWaitUntilWritten).phrase().c_str());
    return false;
  }
  papplDeviceSetData(device, d.release());
  return true;
}

// PAPPL's callbacks for the scheme; nothing thrown reaches PAPPL.
bool listDevices(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
  return orElse(false, [&] { return listPorts(cb, data); });
}

bool openDevice(pappl_device_t* device, const char* uri, const char*) {
  return orElse(false, [&] { return openPort(device, uri); });
}

void closeDevice(pappl_device_t* device) {
  delete dataOf(device);
  papplDeviceSetData(device, nullptr);
}

// Writes every byte, a slice of time at a time, so that a printer that takes
// nothing does not hold the job for ever: between slices the job's thread is
// asked whether to stop (the job was canceled, the server is stopping).
ssize_t writeDevice(pappl_device_t* device, const void* buffer, std::size_t bytes) {
  ParallelDevice* d = dataOf(device);
  if (d == nullptr) return -1;
  const char* data = static_cast<const char*>(buffer);
  std::size_t done = 0;
  for (;;) {
    TransferReport r = d->port->write(data + done, bytes - done, kWriteSliceMs);
    done += r.written;
    d->lastFailure = r.failure;
    d->lastError = r.systemError;
    if (r.failure == Failure::none) return static_cast<ssize_t>(bytes);
    if (r.failure != Failure::timedOut) {
      r.written = done;
      r.total = bytes;
      papplDeviceError(device, "%s", failureWords(r, d->path, kWaitUntilWritten).phrase().c_str());
      break;
    }
    if (tStop && tStop()) break;
  }
  return done > 0 ? static_cast<ssize_t>(done) : -1;
}

// What the port reports about the printer (LPGETSTATUS), and what the last
// write found.
pappl_preason_t deviceStatus(pappl_device_t* device) {
  ParallelDevice* d = dataOf(device);
  if (d == nullptr) return PAPPL_PREASON_NONE;
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  int status = 0;
  if (::ioctl(d->port->handle(), LPGETSTATUS, &status) == 0) {
    if ((status & LP_POUTPA) != 0) reasons |= PAPPL_PREASON_MEDIA_EMPTY;
    if ((status & LP_PSELECD) == 0) reasons |= PAPPL_PREASON_OFFLINE;
    if ((status & LP_PERRORP) == 0 && reasons == PAPPL_PREASON_NONE) reasons |= PAPPL_PREASON_OTHER;
  }
  switch (d->lastFailure) {
    case Failure::none: break;
    case Failure::timedOut:
    case Failure::noSuchPort: reasons |= PAPPL_PREASON_OFFLINE; break;
    case Failure::deviceError:
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

StopWhile::StopWhile(std::function<bool()> stop) : saved_(std::move(tStop)) { tStop = std::move(stop); }

StopWhile::~StopWhile() { tStop = std::move(saved_); }

void addParallelScheme() {
  // PAPPL makes its own schemes (file, socket, usb, ...) when the list is
  // first used; asking it about one makes sure they are there before ours.
  (void)papplDeviceIsSupported("socket://localhost");
  papplDeviceAddScheme("parallel", PAPPL_DEVTYPE_CUSTOM_LOCAL, listDevices, openDevice,
                       closeDevice, nullptr, writeDevice, deviceStatus, nullptr);
}

}  // namespace bspp::printer_app
