// The library's entry point. The print path keeps no per-process or
// per-thread state, so loading and unloading have nothing to set up or tear
// down. Thread notifications stay on: the statically linked runtime keeps
// per-thread data of its own and is told about threads through them.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
