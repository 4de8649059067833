// The port on Windows: "LPT1" opened for exclusive overlapped writing, one
// write of the whole stream, a fixed wait and a single completion check.
#include <windows.h>

#include <cstdint>

#include "port/lpt_port.h"
#include "port/win32_syscalls.h"

namespace bspp {

const char* const kFirstParallelPort = "LPT1";

namespace {

// Owns one kernel handle; closes it once.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE h) noexcept : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const noexcept { return h_; }
  bool valid() const noexcept { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void reset() noexcept {
    if (valid()) sys::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_;
};

class Win32Port final : public Port {
 public:
  explicit Win32Port(const char* device)
      : port_(sys::CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr)),
        event_(sys::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  bool transfer(const std::string& stream, std::uint32_t waitMs) override {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    DWORD written = 0;

    // One write of every byte, also of an empty stream. Whether it completed
    // at once or is still under way is not told apart here; only whether it
    // was started at all, since only a started write may be waited for.
    const BOOL done = sys::WriteFile(port_.get(), stream.data(), static_cast<DWORD>(stream.size()),
                                  &written, &overlapped);
    const bool started = done != FALSE || ::GetLastError() == ERROR_IO_PENDING;

    sys::Sleep(waitMs);

    // The single check. A write that never started has no result of its own
    // (its overlapped record was never filled in): it is a failure here and
    // is never waited for.
    written = 0;
    bool ok = sys::GetOverlappedResult(port_.get(), &overlapped, &written, FALSE) != FALSE;
    const DWORD checkError = ok ? ERROR_SUCCESS : ::GetLastError();
    ok = ok && started;
    if (started && checkError == ERROR_IO_INCOMPLETE) {
      // Too slow for the wait: give up, but end the write before the stream
      // and the overlapped record it writes from go away.
      sys::CancelIoEx(port_.get(), &overlapped);
      DWORD ignored = 0;
      sys::GetOverlappedResult(port_.get(), &overlapped, &ignored, TRUE);
    }
    // A write that moved fewer bytes than the stream did not deliver the job.
    if (ok && written != stream.size()) ok = false;

    if (event_.valid()) sys::ResetEvent(event_.get());
    port_.reset();
    event_.reset();
    return ok;
  }

 private:
  UniqueHandle port_;
  UniqueHandle event_;
};

}  // namespace

std::unique_ptr<Port> openPort(const char* device) {
  return std::make_unique<Win32Port>(device);
}

}  // namespace bspp
