// The library's entry point. The print path keeps no per-process or
// per-thread state, so loading and unloading have nothing to set up or tear
// down; thread notifications are switched off as they would do nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
  return TRUE;
}
