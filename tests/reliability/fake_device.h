// A scripted printer device behind the POSIX port's system calls.
//
// Test programs that link fake_device.cpp in place of the library's
// port/posix_syscalls.cpp get this device instead of the system: open, flock,
// write, poll and close act as the script says and are recorded. Time is not
// scripted: the port keeps it with the system's clock, so a call still takes
// its wait in full.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace bspp::fake {

inline constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

struct Script {
  int openError = 0;   // errno for open; 0: the open succeeds
  int flockError = 0;  // errno for flock (EWOULDBLOCK: held by another open)
  // The device takes at most `perWrite` bytes a write and `capacity` bytes in
  // all; once full it answers every write with `whenFull` (EAGAIN: it stalls,
  // EIO or EPIPE: it fails).
  std::size_t perWrite = kUnlimited;
  std::size_t capacity = kUnlimited;
  int whenFull = EAGAIN;
  // A slow device: after each write that took bytes, the next write finds it
  // busy (EAGAIN) and a poll waits this long before reporting it writable.
  int busyMsAfterWrite = 0;
  // Interruptions: the first `interruptedWrites` writes fail with EINTR.
  int interruptedWrites = 0;
  // A driver without a poll method (the parallel printer driver): poll
  // reports the device writable at once, always. A slow device is then busy
  // for `busyMsAfterWrite` of real time after each write that took bytes.
  bool pollAlwaysReady = false;
};

struct Record {
  int opens = 0;
  int closes = 0;
  int writes = 0;
  int polls = 0;
  int flocks = 0;
  int callsOnClosedDescriptor = 0;  // write, poll or flock after close
  std::string received;             // every byte the device took, in order
};

// Installs `script` and clears the record.
void reset(const Script& script);
Record record();
// Descriptors the port has opened and not yet closed.
int openDescriptors();

}  // namespace bspp::fake
