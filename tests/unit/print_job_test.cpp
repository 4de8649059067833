// The order of work of one call, its arguments and its failures, with fakes.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "api/print_job.h"
#include "fake_surface.h"
#include "test_support.h"

namespace bspp {
namespace {

using test::bytes;
using test::kLT;

struct Journal {
  std::vector<std::string> events;
  std::string sent;
  std::uint32_t waited = 0;
};

// A port that answers `outcome` and reports `failed` (its failure, bytes
// written and system error) when the outcome is false.
class FakePort final : public Port {
 public:
  FakePort(Journal& journal, bool outcome, bool throws, const TransferReport& failed)
      : journal_(journal), outcome_(outcome), throws_(throws), failed_(failed) {
    journal_.events.push_back("open");
  }
  ~FakePort() override { journal_.events.push_back("port released"); }
  bool transfer(std::string_view stream, std::uint32_t waitMs) override {
    journal_.events.push_back("transfer");
    if (throws_) throw std::runtime_error("device gone");
    journal_.sent.assign(stream);
    journal_.waited = waitMs;
    if (!outcome_) report_ = failed_;
    return outcome_;
  }

 private:
  Journal& journal_;
  bool outcome_;
  bool throws_;
  TransferReport failed_;
};

class RecordingSurface final : public DrawSurface {
 public:
  explicit RecordingSurface(Journal& journal) : journal_(journal) {
    journal_.events.push_back("prepare");
  }
  ~RecordingSurface() override { journal_.events.push_back("surface released"); }
  void clear() override {}
  void draw(const GlyphCell*, std::size_t) override { journal_.events.push_back("draw"); }
  void readInk(InkColumns& ink) override { ink.fill(0); }

 private:
  Journal& journal_;
};

class FakePlatform final : public Platform {
 public:
  explicit FakePlatform(Journal& journal) : journal_(journal) {}
  std::unique_ptr<Port> openPort() override {
    return std::make_unique<FakePort>(journal_, outcome, portThrows, failed);
  }
  std::unique_ptr<DrawSurface> prepareSurface() override {
    if (surfaceThrows) throw std::bad_alloc();
    return std::make_unique<RecordingSurface>(journal_);
  }
  bool outcome = true;
  TransferReport failed;
  bool portThrows = false;
  bool surfaceThrows = false;

 private:
  Journal& journal_;
};

TEST(PrintJob, OpensThePortFirstAndHoldsItThroughComposition) {
  Journal journal;
  FakePlatform platform(journal);
  const char text[] = "AB\xB0\xA1";
  EXPECT_TRUE(printJob(platform, text, 3, 250, 1));
  const std::vector<std::string> expected{"open", "prepare", "draw", "transfer",
                                          "surface released", "port released"};
  EXPECT_EQ(journal.events, expected);
  EXPECT_EQ(journal.waited, 250u);
}

TEST(PrintJob, LastIndexIsTheIndexOfTheLastByte) {
  Journal journal;
  FakePlatform platform(journal);
  const std::string full(80, 'x');
  const std::string text = full + '\0' + "never read";

  EXPECT_TRUE(printJob(platform, text.data(), 79, 0, 0));
  EXPECT_EQ(journal.sent, full + kLT);
  EXPECT_TRUE(printJob(platform, text.data(), 80, 0, 0));
  EXPECT_EQ(journal.sent, full + kLT + kLT + "\x0C");
  EXPECT_TRUE(printJob(platform, text.data(), 80, 0, 1));
  EXPECT_EQ(journal.sent, full + kLT + bytes("\0") + kLT);
  EXPECT_TRUE(printJob(platform, "Q", 0, 0, 1));
  EXPECT_EQ(journal.sent, "Q" + kLT);
}

TEST(PrintJob, AnyNonZeroKeepPageKeepsThePage) {
  for (std::int32_t keep : {1, -1, 2, INT32_MIN}) {
    Journal journal;
    FakePlatform platform(journal);
    EXPECT_TRUE(printJob(platform, "HELLO", 4, 0, keep));
    EXPECT_EQ(journal.sent, "HELLO" + kLT) << keep;
  }
}

TEST(PrintJob, NegativeLastIndexIsAnEmptyJobStillTransferred) {
  for (std::int32_t last : {-1, -2, INT32_MIN}) {
    Journal journal;
    FakePlatform platform(journal);
    platform.outcome = false;
    // No byte of the text is read, so even NULL is fine.
    EXPECT_FALSE(printJob(platform, nullptr, last, 7, 0));
    EXPECT_EQ(journal.sent, "");
    EXPECT_EQ(journal.waited, 7u);
  }
}

TEST(PrintJob, NullTextWithBytesToReadFailsBeforeOpeningThePort) {
  for (std::int32_t last : {0, 80, INT32_MAX}) {
    Journal journal;
    FakePlatform platform(journal);
    EXPECT_FALSE(printJob(platform, nullptr, last, 0, 0));
    EXPECT_TRUE(journal.events.empty());
  }
}

TEST(PrintJob, FailuresInsideGiveFalseAndReleaseThePort) {
  {
    Journal journal;
    FakePlatform platform(journal);
    platform.surfaceThrows = true;
    JobReport report;
    EXPECT_FALSE(printJob(platform, "A", 0, 0, 0, &report));
    EXPECT_EQ(journal.events, (std::vector<std::string>{"open", "port released"}));
    EXPECT_EQ(report.transfer.failure, Failure::outOfMemory);
  }
  {
    Journal journal;
    FakePlatform platform(journal);
    platform.portThrows = true;
    JobReport report;
    EXPECT_FALSE(printJob(platform, "A", 0, 0, 0, &report));
    EXPECT_EQ(journal.events.back(), "port released");
    EXPECT_EQ(report.transfer.failure, Failure::internalError);
  }
}

// The report of a call: the port's reason and the bytes it took, of the
// stream the call composed; a port that fails without a reason is still a
// failure, and a port that succeeds took every byte whatever it counted.
TEST(PrintJob, ReportCarriesThePortsReasonAndTheStreamsSize) {
  const std::string job = "A" + kLT + "\x0C";  // what "AB" with keepPage 0 makes
  Journal journal;
  FakePlatform platform(journal);
  JobReport report;

  platform.outcome = false;
  platform.failed.failure = Failure::timedOut;
  platform.failed.written = 3;
  platform.failed.systemError = 11;
  EXPECT_FALSE(printJob(platform, "AB", 1, 0, 0, &report));
  EXPECT_EQ(journal.sent, job);
  EXPECT_EQ(report.transfer.failure, Failure::timedOut);
  EXPECT_EQ(report.transfer.written, 3u);
  EXPECT_EQ(report.transfer.total, job.size());
  EXPECT_EQ(report.transfer.systemError, 11);
  EXPECT_FALSE(report.printed());

  platform.failed = TransferReport{};
  EXPECT_FALSE(printJob(platform, "AB", 1, 0, 0, &report));
  EXPECT_EQ(report.transfer.failure, Failure::internalError);

  platform.outcome = true;
  EXPECT_TRUE(printJob(platform, "AB", 1, 0, 0, &report));
  EXPECT_TRUE(report.printed());
  EXPECT_EQ(report.transfer.written, job.size());
  EXPECT_EQ(report.transfer.total, job.size());
}

}  // namespace
}  // namespace bspp
