// The port on Windows: "LPT1" opened for exclusive overlapped writing, one
// write of the whole stream, a fixed wait and a single completion check.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "port/lpt_port.h"
#include "port/win32_syscalls.h"

namespace bspp {

const char* const kFirstParallelPort = "LPT1";

namespace {

static_assert(kWaitUntilWritten == INFINITE, "a VB6 host passes -1 for INFINITE");
// How long a cancelled write is given to end. Some port drivers never end a
// cancelled write; the call must not hang its host on them.
constexpr DWORD kCancelWaitMs = 1000;

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

// What the kernel uses while the write is under way: the overlapped record,
// its event and the bytes. Kept together on the heap so that a write that
// never ends after its cancellation can be left to the kernel whole.
struct Write {
  Write() : event(sys::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  OVERLAPPED overlapped{};  // first: the kernel's pointer is the block's
  UniqueHandle event;
  std::string bytes;
};

// True when `size` bytes can be one WriteFile, whose count is a DWORD:
// always where std::size_t has 32 bits.
template <typename Size>
constexpr bool fitsOneWrite([[maybe_unused]] Size size) {
  if constexpr (sizeof(Size) > sizeof(DWORD)) {
    return size <= MAXDWORD;
  } else {
    return true;
  }
}

Failure openFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST:
      return Failure::noSuchPort;
    case ERROR_ACCESS_DENIED:
      return Failure::permissionDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return Failure::portBusy;
    default:
      return Failure::deviceError;
  }
}

class Win32Port final : public Port {
 public:
  explicit Win32Port(const char* device)
      : port_(sys::CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr)),
        openError_(port_.valid() ? ERROR_SUCCESS : ::GetLastError()),
        write_(std::make_unique<Write>()) {}

  bool transfer(std::string_view stream, std::uint32_t waitMs) override {
    const bool ok = send(stream, waitMs);
    if (write_ != nullptr && write_->event.valid()) sys::ResetEvent(write_->event.get());
    port_.reset();
    write_.reset();
    return ok;
  }

 private:
  bool fail(Failure failure, DWORD error) {
    report_.failure = failure;
    report_.systemError = static_cast<int>(error);
    return false;
  }

  // The wait before the check, for a write that did not start: the call
  // still takes its time, except when told to wait for an end that has
  // already come.
  static void waitAnyway(std::uint32_t waitMs) {
    if (waitMs != kWaitUntilWritten) sys::Sleep(waitMs);
  }

  bool send(std::string_view stream, std::uint32_t waitMs) {
    report_.total = stream.size();
    if (!port_.valid()) {
      waitAnyway(waitMs);
      return fail(openFailure(openError_), openError_);
    }
    if (!write_->event.valid()) {
      const DWORD error = ::GetLastError();
      waitAnyway(waitMs);
      return fail(Failure::internalError, error);
    }
    // A stream of 4 GiB or more (a 64-bit host's) cannot be one write, and
    // a part of it is no job.
    if (!fitsOneWrite(stream.size())) {
      waitAnyway(waitMs);
      return fail(Failure::internalError, ERROR_SUCCESS);
    }
    write_->bytes.assign(stream);
    OVERLAPPED& overlapped = write_->overlapped;
    overlapped.hEvent = write_->event.get();
    const DWORD size = static_cast<DWORD>(stream.size());

    // One write of every byte, also of an empty stream. Whether it completed
    // at once or is still under way is not told apart here; only whether it
    // was started at all, since only a started write may be waited for.
    DWORD moved = 0;
    if (sys::WriteFile(port_.get(), write_->bytes.data(), size, &moved, &overlapped) == FALSE &&
        ::GetLastError() != ERROR_IO_PENDING) {
      const DWORD error = ::GetLastError();
      waitAnyway(waitMs);
      return fail(Failure::deviceError, error);
    }

    // The single check: after the wait, or once the write has ended.
    const bool untilWritten = waitMs == kWaitUntilWritten;
    if (!untilWritten) sys::Sleep(waitMs);
    moved = 0;
    if (sys::GetOverlappedResult(port_.get(), &overlapped, &moved, untilWritten ? TRUE : FALSE) !=
        FALSE) {
      report_.written = moved;
      // A write that moved fewer bytes than the stream did not deliver the job.
      return moved == size || fail(Failure::deviceError, ERROR_SUCCESS);
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_INCOMPLETE) {
      report_.written = moved;
      return fail(Failure::deviceError, error);
    }

    // Too slow for the wait: give up, and end the write before the bytes and
    // the overlapped record it works on go away. A write that does not end
    // in time is left with them: the block is given up for good, never freed
    // while the kernel may still write to it.
    fail(Failure::timedOut, ERROR_SUCCESS);
    sys::CancelIo(port_.get());
    if (sys::WaitForSingleObject(write_->event.get(), kCancelWaitMs) != WAIT_OBJECT_0 ||
        (sys::GetOverlappedResult(port_.get(), &overlapped, &moved, FALSE) == FALSE &&
         ::GetLastError() == ERROR_IO_INCOMPLETE)) {
      static_cast<void>(write_.release());
      return false;
    }
    report_.written = moved;
    return false;
  }

  UniqueHandle port_;
  DWORD openError_;
  std::unique_ptr<Write> write_;
};

}  // namespace

std::unique_ptr<Port> openPort(const char* device) {
  return std::make_unique<Win32Port>(device);
}

}  // namespace bspp
