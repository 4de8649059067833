// A failed job in words: the phrases bspp-print finishes into its messages
// and the printer application puts into its job messages and log.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "port/port.h"

namespace bspp {
namespace {

TransferReport failed(Failure failure, std::size_t written = 0, std::size_t total = 0,
                      int systemError = 0) {
  TransferReport r;
  r.failure = failure;
  r.written = written;
  r.total = total;
  r.systemError = systemError;
  return r;
}

TEST(FailureWords, EachFailureNamesItsCauseDeviceAndBytes) {
  const struct {
    TransferReport report;
    std::uint32_t waitMs;
    const char* phrase;
  } cases[] = {
      {failed(Failure::noSuchPort, 0, 9, ENOENT), 500, "no printer port /dev/lp0"},
      {failed(Failure::permissionDenied, 0, 9, EACCES), 500, "permission denied on /dev/lp0"},
      {failed(Failure::portBusy, 0, 9, EWOULDBLOCK), 500,
       "the printer port /dev/lp0 is in use by another job or program"},
      {failed(Failure::timedOut, 4096, 23535), 500,
       "the printer took 4096 of 23535 bytes in 500 ms (busy, offline or slower than the wait)"},
      {failed(Failure::timedOut, 4096, 23535), kWaitUntilWritten,
       "the printer took 4096 of 23535 bytes (busy, offline or slower than the wait)"},
      {failed(Failure::deviceError, 512, 23535, EIO), 500,
       "the printer at /dev/lp0 reported an error after 512 of 23535 bytes (Input/output error)"},
      {failed(Failure::deviceError, 2, 3), 500,
       "the printer at /dev/lp0 reported an error after 2 of 3 bytes"},
      {failed(Failure::noFont), 500,
       "no Chinese font installed: the job's Chinese characters cannot be drawn "
       "(Debian: apt-get install xfonts-wqy)"},
      {failed(Failure::outOfMemory), 500, "out of memory composing the job"},
      {failed(Failure::internalError), 500, "the job was not printed on /dev/lp0 (internal error)"},
      {failed(Failure::badArgument, 0, 0, EINVAL), 500,
       "the job was not printed on /dev/lp0 (bad argument) (Invalid argument)"},
      {failed(Failure::none, 9, 9), 500, "the printer at /dev/lp0 took all 9 bytes"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureWords(c.report, "/dev/lp0", c.waitMs).phrase(), c.phrase);
  }
}

// The cause and the detail apart, for callers that finish the phrase with
// their own advice inside its parentheses.
TEST(FailureWords, CauseAndDetailComeApart) {
  const FailureWords w = failureWords(failed(Failure::timedOut, 1, 2), "LPT1", 30);
  EXPECT_EQ(w.cause, "the printer took 1 of 2 bytes in 30 ms");
  EXPECT_EQ(w.detail, "busy, offline or slower than the wait");
  const FailureWords none = failureWords(failed(Failure::portBusy), "LPT1", 30);
  EXPECT_EQ(none.detail, "");
  EXPECT_EQ(none.phrase(), none.cause);
}

}  // namespace
}  // namespace bspp
