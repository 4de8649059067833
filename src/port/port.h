// The printer port one job is sent through, and why a job was not printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bspp {

// The wait (waitMs) that lasts until the write has ended, however long the
// printer takes: 0xFFFFFFFF, INFINITE to Windows.
inline constexpr std::uint32_t kWaitUntilWritten = 0xFFFFFFFF;

// Why a call returned false. The C interface reports only the boolean; the
// tools read the reason to tell the user what went wrong.
enum class Failure : std::uint8_t {
  none,              // printed
  noSuchPort,        // the port does not exist
  permissionDenied,  // the port exists but may not be opened for writing
  portBusy,          // held by another call or program
  timedOut,          // the printer had not taken the whole job by the check
  deviceError,       // the device reported an error (offline, out of paper, I/O error)
  noFont,            // a character of the job could not be drawn: no Chinese font
  outOfMemory,       // the job could not be composed
  badArgument,       // text NULL with lastIndex >= 0
  internalError,     // any other failure inside the call
};

// What became of one transfer.
struct TransferReport {
  Failure failure = Failure::none;
  std::size_t written = 0;  // bytes the port took before the check
  std::size_t total = 0;    // bytes in the stream
  int systemError = 0;      // errno or GetLastError() behind the failure, 0 if none
};

// A failed job put into words for people: what happened (`cause`, naming
// the device and the bytes) and, where something more is known, what lies
// behind it (`detail`: the system's words for its error, or the likely
// reasons). Both are lower-case phrases without a full stop, for a caller
// to finish in its own way ("; the job was not printed").
struct FailureWords {
  std::string cause;
  std::string detail;  // empty when nothing more is known
  // The cause, then the detail in parentheses: "the printer took 4096 of
  // 23535 bytes in 500 ms (busy, offline or slower than the wait)".
  std::string phrase() const;
};

// The words for `report`, a job for `device` that was given `waitMs`
// (kWaitUntilWritten: no time is named). For each failure:
//   noSuchPort        "no printer port D"
//   permissionDenied  "permission denied on D"
//   portBusy          "the printer port D is in use by another job or program"
//   timedOut          "the printer took W of T bytes in M ms"
//                     (busy, offline or slower than the wait)
//   deviceError       "the printer at D reported an error after W of T bytes"
//                     (the system's words for systemError, when set)
//   noFont            "no Chinese font installed: the job's Chinese characters
//                     cannot be drawn" (the font to install)
//   outOfMemory       "out of memory composing the job"
//   any other         "the job was not printed on D (bad argument|internal error)"
//                     (the system's words for systemError, when set)
//   none              "the printer at D took all T bytes"
// Throws only std::bad_alloc.
FailureWords failureWords(const TransferReport& report, std::string_view device,
                          std::uint32_t waitMs);

// A port opened for one call. Platforms open it exclusively when they create
// it, and hold it until the object is destroyed; a port that could not be
// opened still exists and fails its transfer.
class Port {
 public:
  virtual ~Port() = default;
  // Starts one write of the whole stream (also when it is empty), waits
  // waitMs, checks once and releases the port. True only when every byte was
  // written by the check; a write still in progress then is ended before
  // this returns. `stream` is read only during the call. Called at most once.
  virtual bool transfer(std::string_view stream, std::uint32_t waitMs) = 0;
  // Why the transfer failed, and how far it got. Ports that know nothing
  // more than the boolean leave it as it is.
  const TransferReport& report() const noexcept { return report_; }

 protected:
  TransferReport report_;
};

}  // namespace bspp
