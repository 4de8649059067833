#include "port/win32_syscalls.h"

namespace bspp::sys {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  return ::CreateFileA(name, access, share, security, disposition, flags, templateFile);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name) {
  return ::CreateEventA(security, manualReset, initialState, name);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  return ::WriteFile(file, data, size, written, overlapped);
}

void Sleep(DWORD ms) { ::Sleep(ms); }

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  return ::GetOverlappedResult(file, overlapped, transferred, wait);
}

BOOL CancelIo(HANDLE file) { return ::CancelIo(file); }

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) { return ::WaitForSingleObject(handle, ms); }

BOOL ResetEvent(HANDLE event) { return ::ResetEvent(event); }

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace bspp::sys
