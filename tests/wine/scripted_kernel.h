// A stand-in for the kernel calls of the Windows port, scripted by the fault
// tests: what opening the port, the write and the single check answer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bspp::test {

struct Script {
  DWORD openError = ERROR_SUCCESS;  // non-zero: CreateFileA fails with it
  enum class Write { CompletesAtOnce, Pending, FailsAtOnce } write = Write::CompletesAtOnce;
  DWORD writeError = ERROR_GEN_FAILURE;  // for FailsAtOnce
  // What the check without waiting finds for a started write.
  enum class Check { Finished, StillPending, Failed } check = Check::Finished;
  DWORD moved = MAXDWORD;  // bytes the write moved; MAXDWORD: all of them
};

struct Journal {
  std::vector<std::string> calls;  // in order
  std::string device;
  DWORD access = 0, share = ~0u, disposition = 0, flags = 0;
  BOOL manualReset = FALSE, initialState = TRUE;
  bool namedEvent = false;
  DWORD writeSize = MAXDWORD;
  DWORD slept = MAXDWORD;
  int handlesOpen = 0;     // opened and not yet closed
  int badCloses = 0;       // closes of handles that were not open
  bool waitedForNothing = false;  // a waiting check on a write never started
};

// Starts a new scenario.
void script(const Script& s);
const Journal& journal();

}  // namespace bspp::test
