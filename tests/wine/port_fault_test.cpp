// The Windows port against a scripted kernel: every way the transfer can go
// wrong gives false with its reason, waits only for a write that was
// started, and closes both handles once; a write told to wait without end
// is checked once it has ended; a cancelled write that never ends costs the
// call about a second and keeps its memory; a 64-bit stream too long for one
// write is refused whole; every allocation failure inside a call gives false.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alloc_failure.h"
#include "port/lpt_port.h"
#include "scripted_kernel.h"

namespace {

using bspp::Failure;
using bspp::test::Script;

bspp::TransferReport report;  // of the last run

int passed = 0;
int failed = 0;

void check(bool ok, const char* scenario, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s: %s\n", scenario, what);
  }
}

bool contains(const std::vector<std::string>& calls, const char* call) {
  for (const std::string& c : calls) {
    if (c == call) return true;
  }
  return false;
}

// Runs one transfer of `stream` under `s` and checks what every scenario
// must hold; returns the transfer's result.
bool run(const char* scenario, const Script& s, const std::string& stream = "job",
         DWORD waitMs = 250) {
  bspp::test::script(s);
  const std::unique_ptr<bspp::Port> port = bspp::openPort("LPT1");
  const bool result = port->transfer(stream, waitMs);
  report = port->report();
  const auto& j = bspp::test::journal();
  if (s.cancelEnds) {
    check(j.handlesOpen == 0 && j.badCloses == 0, scenario, "each handle closed exactly once");
  }
  check(!j.waitedForNothing, scenario, "never waits for a write that was not started");
  check(!j.unboundedWait, scenario, "no wait without end after a cancel");
  check(j.slept == (waitMs == INFINITE ? MAXDWORD : waitMs), scenario,
        "sleeps the wait, always, unless told to wait for the write");
  check(j.writeSize == (s.openError == ERROR_SUCCESS ? stream.size() : MAXDWORD), scenario,
        "one write of the whole stream, none to a port that did not open");
  check(result == (report.failure == Failure::none), scenario, "a reason exactly when false");
  return result;
}

}  // namespace

int main() {
  {
    const char* name = "printer takes the job";
    check(run(name, Script{}), name, "true");
    const auto& j = bspp::test::journal();
    check(j.device == "LPT1" && j.access == (GENERIC_READ | GENERIC_WRITE) && j.share == 0 &&
              j.disposition == OPEN_EXISTING && j.flags == FILE_FLAG_OVERLAPPED,
          name, "CreateFileA(LPT1, read/write, no sharing, existing, overlapped)");
    check(j.manualReset && !j.initialState && !j.namedEvent, name,
          "unnamed manual-reset event, not signalled");
    const std::vector<std::string> order{"CreateFileA", "CreateEventA", "WriteFile", "Sleep",
                                         "GetOverlappedResult", "ResetEvent", "CloseHandle",
                                         "CloseHandle"};
    check(j.calls == order, name, "calls in order, one check without waiting");
  }
  {
    const char* name = "empty job";
    check(run(name, Script{}, ""), name, "a zero-byte write is made and succeeds");
  }
  {
    const char* name = "pending write finishes within the wait";
    Script s;
    s.write = Script::Write::Pending;
    check(run(name, s), name, "true");
    check(!contains(bspp::test::journal().calls, "CancelIo"), name, "nothing cancelled");
  }
  const struct {
    DWORD error;
    Failure reason;
  } openFailures[] = {{ERROR_FILE_NOT_FOUND, Failure::noSuchPort},
                      {ERROR_PATH_NOT_FOUND, Failure::noSuchPort},
                      {ERROR_SHARING_VIOLATION, Failure::portBusy},
                      {ERROR_ACCESS_DENIED, Failure::permissionDenied}};
  for (const auto& f : openFailures) {
    const char* name = "port cannot be opened";
    Script s;
    s.openError = f.error;
    check(!run(name, s), name, "false");
    check(!contains(bspp::test::journal().calls, "CancelIo"), name, "nothing to cancel");
    check(report.failure == f.reason && report.systemError == static_cast<int>(f.error), name,
          "the reason and the system's error code");
    check(!run(name, s, "job", INFINITE), name, "false, at once, when told to wait for the write");
  }
  {
    const char* name = "write fails at once";
    Script s;
    s.write = Script::Write::FailsAtOnce;
    s.writeError = ERROR_NOT_READY;
    check(!run(name, s), name, "false");
    check(report.failure == Failure::deviceError && report.systemError == ERROR_NOT_READY, name,
          "a device error, with the system's code");
    check(!run(name, s, "job", INFINITE), name, "false when told to wait for the write");
  }
  {
    const char* name = "write still pending at the check";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::StillPending;
    s.moved = 3;
    check(!run(name, s), name, "false");
    const auto& calls = bspp::test::journal().calls;
    std::vector<std::string> tail(calls.end() - 6, calls.end());
    const std::vector<std::string> expected{"CancelIo",   "WaitForSingleObject",
                                            "GetOverlappedResult", "ResetEvent",
                                            "CloseHandle", "CloseHandle"};
    check(tail == expected, name, "cancelled and waited for before the handles close");
    check(report.failure == Failure::timedOut && report.written == 3, name,
          "timed out, with the bytes the printer took");
    check(bspp::test::journal().writeMemoryFreed, name, "the write's memory freed once ended");
  }
  {
    const char* name = "cancelled write never ends";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::StillPending;
    s.cancelEnds = false;
    const std::string stream(4000, 'x');
    const DWORD start = ::GetTickCount();
    check(!run(name, s, stream), name, "false");
    const DWORD ms = ::GetTickCount() - start;
    const auto& j = bspp::test::journal();
    check(ms >= 900 && ms < 2000, name, "returns one to two seconds after the cancel");
    check(j.eventWaitMs >= 900 && j.eventWaitMs <= 2000, name, "the wait for the end is bounded");
    check(!j.writeMemoryFreed, name, "bytes and overlapped record left to the kernel");
    check(std::string(static_cast<const char*>(j.writeData), 4000) == stream, name,
          "the bytes still there for the write");
    check(j.handlesOpen == 1 && j.badCloses == 0 && contains(j.calls, "CloseHandle"), name,
          "the port closed, the write's event left open");
    check(report.failure == Failure::timedOut, name, "timed out");
  }
  {
    const char* name = "told to wait for the write";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::StillPending;
    check(run(name, s, "job", INFINITE), name, "true once the write has ended");
    check(contains(bspp::test::journal().calls, "GetOverlappedResult(wait)") &&
              !contains(bspp::test::journal().calls, "CancelIo"),
          name, "the check waits for the end, nothing cancelled");
    s.check = Script::Check::Failed;
    check(!run(name, s, "job", INFINITE), name, "false when the write ends in an error");
    check(report.failure == Failure::deviceError, name, "a device error");
  }
  {
    const char* name = "write ends in an error";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::Failed;
    check(!run(name, s), name, "false");
    check(report.failure == Failure::deviceError && report.systemError == ERROR_GEN_FAILURE, name,
          "a device error, with the system's code");
  }
  for (auto write : {Script::Write::CompletesAtOnce, Script::Write::Pending}) {
    const char* name = "short write";
    Script s;
    s.write = write;
    s.moved = 2;
    check(!run(name, s), name, "fewer bytes than the stream is a failure");
    check(report.failure == Failure::deviceError && report.written == 2, name,
          "a device error, with the bytes written");
  }

#if SIZE_MAX > 0xFFFFFFFFu
  {
    // A 64-bit host's stream of 4 GiB or more cannot be one WriteFile, whose
    // count is a DWORD: the call fails and writes nothing, where a count cut
    // to 32 bits would send a few bytes and report the job printed.
    const char* name = "stream of 4 GiB or more";
    const SIZE_T size = (SIZE_T{1} << 32) + 3;
    // Address space only, no memory: the port must not read a byte of it.
    void* reserved = ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    check(reserved != nullptr, name, "4 GiB of address space reserved");
    if (reserved != nullptr) {
      bspp::test::script(Script{});
      const std::unique_ptr<bspp::Port> port = bspp::openPort("LPT1");
      const bool ok = port->transfer(std::string_view(static_cast<const char*>(reserved), size), 250);
      const auto& j = bspp::test::journal();
      check(!ok && port->report().failure == Failure::internalError, name, "false: no one job");
      check(port->report().written == 0 && port->report().total == size, name,
            "none of its bytes written");
      check(!contains(j.calls, "WriteFile") && j.slept == 250, name, "no write, the wait taken");
      check(j.handlesOpen == 0 && j.badCloses == 0, name, "each handle closed exactly once");
      ::VirtualFree(reserved, 0, MEM_RELEASE);
    }
  }
#endif

  allocationFailureTests(check);

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
