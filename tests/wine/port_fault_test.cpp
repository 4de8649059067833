// The Windows port against a scripted kernel: every way the transfer can go
// wrong gives false, waits only for a write that was started, and closes
// both handles once; so does every allocation failure inside a call.
#include <cstdio>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "port/lpt_port.h"
#include "scripted_kernel.h"

namespace {

using bspp::test::Script;

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
bool run(const char* scenario, const Script& s, const std::string& stream = "job") {
  bspp::test::script(s);
  const bool result = bspp::openPort("LPT1")->transfer(stream, 250);
  const auto& j = bspp::test::journal();
  check(j.handlesOpen == 0 && j.badCloses == 0, scenario, "each handle closed exactly once");
  check(!j.waitedForNothing, scenario, "never waits for a write that was not started");
  check(j.slept == 250, scenario, "sleeps the wait, always");
  check(j.writeSize == stream.size(), scenario, "one write of the whole stream");
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
    check(!contains(bspp::test::journal().calls, "CancelIoEx"), name, "nothing cancelled");
  }
  for (DWORD error : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_SHARING_VIOLATION},
                      DWORD{ERROR_ACCESS_DENIED}}) {
    const char* name = "port cannot be opened";
    Script s;
    s.openError = error;
    check(!run(name, s), name, "false");
    check(!contains(bspp::test::journal().calls, "CancelIoEx"), name, "nothing to cancel");
  }
  {
    const char* name = "write fails at once";
    Script s;
    s.write = Script::Write::FailsAtOnce;
    check(!run(name, s), name, "false");
  }
  {
    const char* name = "write still pending at the check";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::StillPending;
    check(!run(name, s), name, "false");
    const auto& calls = bspp::test::journal().calls;
    std::vector<std::string> tail(calls.end() - 5, calls.end());
    const std::vector<std::string> expected{"CancelIoEx", "GetOverlappedResult(wait)",
                                            "ResetEvent", "CloseHandle", "CloseHandle"};
    check(tail == expected, name, "cancelled and waited for before the handles close");
  }
  {
    const char* name = "write ends in an error";
    Script s;
    s.write = Script::Write::Pending;
    s.check = Script::Check::Failed;
    check(!run(name, s), name, "false");
  }
  for (auto write : {Script::Write::CompletesAtOnce, Script::Write::Pending}) {
    const char* name = "short write";
    Script s;
    s.write = write;
    s.moved = 2;
    check(!run(name, s), name, "fewer bytes than the stream is a failure");
  }

  allocationFailureTests(check);

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
