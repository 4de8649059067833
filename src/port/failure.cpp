// Why a job was not printed, in words: the one place that says it, for the
// command-line tool, the printer application and its device's log.
#include <cstring>
#include <string>

#include "port/port.h"

namespace bspp {
namespace {

// A short English phrase for `failure`, e.g. "no such port".
const char* describe(Failure failure) noexcept {
  switch (failure) {
    case Failure::none: return "printed";
    case Failure::noSuchPort: return "no such port";
    case Failure::permissionDenied: return "permission denied";
    case Failure::portBusy: return "port busy";
    case Failure::timedOut: return "timed out";
    case Failure::deviceError: return "device error";
    case Failure::noFont: return "no Chinese font";
    case Failure::outOfMemory: return "out of memory";
    case Failure::badArgument: return "bad argument";
    case Failure::internalError: return "internal error";
  }
  return "unknown failure";
}

#ifndef _WIN32
// strerror_r comes in two forms: the XSI one answers 0 and fills the buffer,
// the GNU one returns the text (in the buffer or not).
[[maybe_unused]] const char* errorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* errorText(const char* result, const char*) { return result; }
#endif

// The system's words for an errno or GetLastError() value.
std::string systemWords(int code) {
#ifdef _WIN32
  return "Windows error " + std::to_string(code);
#else
  // strerror_r rather than strerror: the printer application words
  // failures on many threads.
  char buffer[256] = "";
  return errorText(strerror_r(code, buffer, sizeof buffer), buffer);
#endif
}

std::string bytesOf(const TransferReport& r) {
  return std::to_string(r.written) + " of " + std::to_string(r.total) + " bytes";
}

}  // namespace

std::string FailureWords::phrase() const {
  return detail.empty() ? cause : cause + " (" + detail + ")";
}

FailureWords failureWords(const TransferReport& report, std::string_view device,
                          std::uint32_t waitMs) {
  const std::string d(device);
  const std::string system = report.systemError != 0 ? systemWords(report.systemError) : "";
  switch (report.failure) {
    case Failure::none:
      return {"the printer at " + d + " took all " + std::to_string(report.total) + " bytes", ""};
    case Failure::noSuchPort:
      return {"no printer port " + d, ""};
    case Failure::permissionDenied:
      return {"permission denied on " + d, ""};
    case Failure::portBusy:
      return {"the printer port " + d + " is in use by another job or program", ""};
    case Failure::timedOut:
      return {"the printer took " + bytesOf(report) +
                  (waitMs == kWaitUntilWritten ? "" : " in " + std::to_string(waitMs) + " ms"),
              "busy, offline or slower than the wait"};
    case Failure::deviceError:
      return {"the printer at " + d + " reported an error after " + bytesOf(report), system};
    case Failure::noFont:
      return {"no Chinese font installed: the job's Chinese characters cannot be drawn",
#ifdef _WIN32
              "the \xE5\xAE\x8B\xE4\xBD\x93/SimSun font is needed"};
#else
              "Debian: apt-get install xfonts-wqy"};
#endif
    case Failure::outOfMemory:
      return {"out of memory composing the job", ""};
    case Failure::badArgument:
    case Failure::internalError:
      break;
  }
  return {"the job was not printed on " + d + " (" + describe(report.failure) + ")", system};
}

}  // namespace bspp
