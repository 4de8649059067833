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
  // Whether a cancelled write ends (the event is set) or, as with some port
  // drivers, never does: a wait for it then times out for real.
  bool cancelEnds = true;
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
  const void* writeData = nullptr;          // what the write was given
  const OVERLAPPED* overlapped = nullptr;
  bool writeMemoryFreed = false;  // either freed after the write was started
  DWORD eventWaitMs = 0;          // the longest wait on the event
  bool unboundedWait = false;     // a wait on the event of more than 5 s
};

// Starts a new scenario.
void script(const Script& s);
const Journal& journal();

// Called by the test's operator delete with every block it frees.
void noteFree(const void* block);

}  // namespace bspp::test
