// A printer port held open for many writes (POSIX only): a program that
// prints job after job, the printer application, opens it once for a job,
// exclusively, and writes the job piece by piece with the rules of the
// library's own transfer: non-blocking writes, pauses for a printer that is
// busy, an error from the printer ending the write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "port/port.h"

namespace bspp {

class HeldPort {
 public:
  // Opens and locks `device` for writing, as openPort does. Never fails here:
  // a port that could not be opened says why in opened(), and every write
  // fails.
  explicit HeldPort(const char* device);
  ~HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  // Why the port could not be opened; Failure::none when it is open.
  const TransferReport& opened() const;
  // Writes what the printer takes of `data` within `waitMs`
  // (kWaitUntilWritten: until every byte went out, or the printer reported
  // an error). The report tells how many bytes went out and, when not all
  // of them, why (Failure::timedOut: the printer took no more in time).
  TransferReport write(const char* data, std::size_t size, std::uint32_t waitMs);
  // The open device's descriptor, for questions to its driver (the printer's
  // status); -1 when it is not open.
  int handle() const;

 private:
  struct Device;
  std::unique_ptr<Device> device_;
};

}  // namespace bspp
