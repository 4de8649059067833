// The kernel calls the Windows port makes, behind one small seam. The library
// links win32_syscalls.cpp, which passes each call straight to the system;
// the fault tests link their own implementation instead and so decide what
// the "device" answers (setting the thread's last error as the system does).
#pragma once

#include <windows.h>

namespace bspp::sys {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
void Sleep(DWORD ms);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
BOOL CancelIo(HANDLE file);
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE handle);

}  // namespace bspp::sys
