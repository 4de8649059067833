// Replaces port/win32_syscalls.cpp in the fault tests.
#include "scripted_kernel.h"

#include "port/win32_syscalls.h"

namespace bspp::test {
namespace {

HANDLE const kPort = reinterpret_cast<HANDLE>(0x1000);
HANDLE const kEvent = reinterpret_cast<HANDLE>(0x2000);

Script current;
Journal log;
bool portOpen = false, eventOpen = false;
bool started = false, cancelled = false;
DWORD requested = 0;

}  // namespace

void script(const Script& s) {
  current = s;
  log = Journal{};
  portOpen = eventOpen = started = cancelled = false;
  requested = 0;
}

const Journal& journal() { return log; }

void noteFree(const void* block) {
  if (block != nullptr && (block == log.writeData || block == log.overlapped)) {
    log.writeMemoryFreed = true;
  }
}

}  // namespace bspp::test

namespace bspp::sys {

using namespace bspp::test;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  log.calls.push_back("CreateFileA");
  log.device = name;
  log.access = access;
  log.share = share;
  log.disposition = disposition;
  log.flags = flags;
  if (current.openError != ERROR_SUCCESS) {
    ::SetLastError(current.openError);
    return INVALID_HANDLE_VALUE;
  }
  portOpen = true;
  ++log.handlesOpen;
  return kPort;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  log.calls.push_back("CreateEventA");
  log.manualReset = manualReset;
  log.initialState = initialState;
  log.namedEvent = name != nullptr;
  eventOpen = true;
  ++log.handlesOpen;
  return kEvent;
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  log.calls.push_back("WriteFile");
  log.writeData = data;
  log.overlapped = overlapped;
  log.writeSize = size;
  requested = size;
  if (file != kPort || !portOpen || overlapped == nullptr || overlapped->hEvent != kEvent) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (current.write) {
    case Script::Write::FailsAtOnce:
      ::SetLastError(current.writeError);
      return FALSE;
    case Script::Write::Pending:
      started = true;
      ::SetLastError(ERROR_IO_PENDING);
      return FALSE;
    case Script::Write::CompletesAtOnce:
      started = true;
      if (written != nullptr) *written = current.moved == MAXDWORD ? size : current.moved;
      return TRUE;
  }
  return FALSE;
}

void Sleep(DWORD ms) {
  log.calls.push_back("Sleep");
  log.slept = ms;
}

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD transferred, BOOL wait) {
  log.calls.push_back(wait ? "GetOverlappedResult(wait)" : "GetOverlappedResult");
  if (!started) {
    // The system would answer from a record no write ever used; a waiting
    // check could block for good.
    if (wait) log.waitedForNothing = true;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (cancelled) {
    if (!current.cancelEnds) {
      if (wait) log.unboundedWait = true;
      ::SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    *transferred = current.moved == MAXDWORD ? 0 : current.moved;
    ::SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
  }
  const bool pending = current.write == Script::Write::Pending &&
                       current.check == Script::Check::StillPending;
  if (pending && !wait) {
    ::SetLastError(ERROR_IO_INCOMPLETE);
    return FALSE;
  }
  if (current.check == Script::Check::Failed) {
    ::SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  *transferred = current.moved == MAXDWORD ? requested : current.moved;
  return TRUE;
}

BOOL CancelIo(HANDLE file) {
  log.calls.push_back("CancelIo");
  if (file != kPort || !portOpen) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  cancelled = started;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
  log.calls.push_back("WaitForSingleObject");
  if (handle != kEvent || !eventOpen) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (ms > 5000) {
    log.unboundedWait = true;
    return WAIT_TIMEOUT;
  }
  if (ms > log.eventWaitMs) log.eventWaitMs = ms;
  const bool ended = !started || (cancelled ? current.cancelEnds
                                            : !(current.write == Script::Write::Pending &&
                                                current.check == Script::Check::StillPending));
  if (ended) return WAIT_OBJECT_0;
  ::Sleep(ms);  // really: the test measures how long the call takes
  return WAIT_TIMEOUT;
}

BOOL ResetEvent(HANDLE event) {
  log.calls.push_back("ResetEvent");
  return event == kEvent && eventOpen;
}

BOOL CloseHandle(HANDLE handle) {
  log.calls.push_back("CloseHandle");
  bool* open = handle == kPort ? &portOpen : handle == kEvent ? &eventOpen : nullptr;
  if (open == nullptr || !*open) {
    ++log.badCloses;
    return FALSE;
  }
  *open = false;
  --log.handlesOpen;
  return TRUE;
}

}  // namespace bspp::sys
