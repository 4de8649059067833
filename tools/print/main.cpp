// bspp-print: prints a file as one job, or shows what the job would be.
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "console.h"
#include "file_io.h"
#include "options.h"
#include "port/lpt_port.h"
#include "preview/escp_render.h"
#include "preview/png_writer.h"
#include "preview/stream_dump.h"
#include "text_input.h"
#include "text_records.h"

namespace {

using bspp::tools::Options;

constexpr int kPrinted = 0;
constexpr int kNotPrinted = 1;
constexpr int kUsage = 2;

void say(const std::string& message) {
  bspp::tools::writeText(stderr, "bspp-print: " + message + "\n");
}

// Hands the composed stream to the real port, when there is one, and keeps
// a copy of exactly what was handed over.
class CapturingPort final : public bspp::Port {
 public:
  CapturingPort(std::unique_ptr<bspp::Port> port, std::string& copy)
      : port_(std::move(port)), copy_(copy) {}
  bool transfer(std::string_view stream, std::uint32_t waitMs) override {
    copy_.assign(stream);
    if (!port_) return true;
    const bool ok = port_->transfer(stream, waitMs);
    report_ = port_->report();
    return ok;
  }

 private:
  std::unique_ptr<bspp::Port> port_;
  std::string& copy_;
};

// The exported call's platform, with the port chosen on the command line;
// no port at all for a dry run.
class ToolPlatform final : public bspp::Platform {
 public:
  ToolPlatform(const std::optional<std::string>& device, std::string& stream)
      : device_(device), stream_(stream) {}
  std::unique_ptr<bspp::Port> openPort() override {
    return std::make_unique<CapturingPort>(
        device_ ? bspp::openPort(device_->c_str()) : nullptr, stream_);
  }
  std::unique_ptr<bspp::DrawSurface> prepareSurface() override {
    return bspp::prepareGlyphSurface();
  }

 private:
  std::optional<std::string> device_;
  std::string& stream_;
};

std::string displayName(const std::string& path) {
  return path == "-" ? std::string("standard input") : path;
}

// The job text from the input file, shaped as the options ask.
bool jobText(const Options& o, std::string& text) {
  std::string error;
  if (!bspp::tools::readWhole(o.input, text, error)) {
    say(error);
    return false;
  }
  if (o.stream) return true;
  try {
    if (o.utf8) text = bspp::tools::utf8ToGb2312(text);
    if (o.lines) {
      text = bspp::tools::linesToRecords(
          text, o.wrap ? bspp::tools::LongLines::wrap : bspp::tools::LongLines::refuse);
    }
  } catch (const bspp::tools::InputError& e) {
    say(displayName(o.input) + ":" + std::to_string(e.line()) + ":" + std::to_string(e.column()) +
        ": " + e.what() + "; nothing printed");
    return false;
  }
  const std::size_t dangling = bspp::tools::danglingLeadByte(text);
  if (dangling != std::string::npos) {
    say("warning: " + displayName(o.input) + " ends inside a double-byte character (byte " +
        std::to_string(dangling) +
        "); it is printed as the library does, paired with a NUL");
  }
  if (!o.exact) {
    // The job ends with a NUL of its own, as from a host passing
    // strlen(text): the byte a partial last line loses is that NUL. A lead
    // byte at the end first gets the NUL the library would pair it with.
    if (dangling != std::string::npos) text.push_back('\0');
    if (!bspp::tools::endsWithOwnNul(text)) text.push_back('\0');
  }
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
    say(displayName(o.input) + " is too large for one job");
    return false;
  }
  return true;
}

#ifndef _WIN32
// "(is the user in the lp group?)" for a device its group may write to.
std::string groupHint(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0 || (st.st_mode & S_IWGRP) == 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  if (g == nullptr || g->gr_name == nullptr) return {};
  return std::string(" (is the user in the ") + g->gr_name + " group?)";
}
#endif

// One line naming why the job was not printed: the failure's own words,
// finished the way this tool tells its user what to do.
std::string notPrinted(const bspp::JobReport& report, const std::string& device,
                       std::uint32_t waitMs) {
  const bspp::FailureWords words = bspp::failureWords(report.transfer, device, waitMs);
  switch (report.transfer.failure) {
    case bspp::Failure::noSuchPort:
    case bspp::Failure::portBusy:
      return words.phrase() + "; the job was not printed";
    case bspp::Failure::permissionDenied:
#ifdef _WIN32
      return words.phrase() + "; the job was not printed";
#else
      return words.phrase() + groupHint(device) + "; the job was not printed";
#endif
    case bspp::Failure::timedOut:
      return words.cause + " (" + words.detail + "; --wait gives it longer)";
    case bspp::Failure::deviceError:
      return words.phrase() + "; is it on line, with paper?";
    case bspp::Failure::noFont:
    case bspp::Failure::outOfMemory:
      return words.phrase() + "; nothing printed";
    case bspp::Failure::none:
    case bspp::Failure::badArgument:
    case bspp::Failure::internalError:
      break;
  }
  return words.phrase();
}

// Draws and writes one page at a time: memory stays one page whatever the
// stream holds.
bool writePreview(const Options& o, const std::string& stream) {
  bspp::preview::RenderOptions options;
  options.paper = *bspp::preview::paperNamed(o.paper);
  options.maxPages = o.maxPages;
  // A device or FIFO takes every page in turn, held open between them so
  // that its reader sees one stream; files are named per page.
  const bool device = bspp::tools::isDevice(*o.preview);
  const bspp::tools::KeepOpen keep(device ? *o.preview : std::string());
  std::string list;
  std::string last;
  std::string failure;
  const bspp::preview::RenderSummary r = bspp::preview::render(
      stream, options, [&](const bspp::preview::Page& page, std::size_t number) {
        const std::string name =
            device ? *o.preview : bspp::preview::pageFileName(*o.preview, number);
        try {
          if (!bspp::tools::writeWhole(name, bspp::preview::encodePng(page), failure)) return false;
        } catch (const std::exception& e) {
          failure = e.what();
          return false;
        }
        if (number == 1) list = " " + name;
        last = name;
        return true;
      });
  if (r.tooManyPages) {
    say("preview: the stream has more than " + std::to_string(o.maxPages) +
        " pages; nothing drawn (--max-pages raises the limit)");
    return false;
  }
  for (const auto& problem : r.problems) say("preview: " + problem.message);
  if (r.problemCount > r.problems.size()) {
    say("preview: ... and " + std::to_string(r.problemCount - r.problems.size()) + " more problems");
  }
  if (!failure.empty()) {
    say("preview: " + failure);
    return false;
  }
  if (r.pages > 1) list += (r.pages > 2 ? " ... " : " ") + last;
  say("preview: " + std::to_string(r.pages) + (r.pages == 1 ? " page:" : " pages:") + list);
  return true;
}

int run(const std::vector<std::string>& args) {
  Options o;
  try {
    o = bspp::tools::parseOptions(args);
  } catch (const bspp::tools::UsageError& e) {
    say(std::string(e.what()) + " (see --help)");
    return kUsage;
  }
  if (o.help) {
    bspp::tools::writeText(stdout, bspp::tools::helpText(bspp::kFirstParallelPort));
    return kPrinted;
  }
  if (o.version) {
    bspp::tools::writeText(stdout, std::string("bspp-print ") + BSPP_VERSION + "\n");
    return kPrinted;
  }

  std::string text;
  if (!jobText(o, text)) return kUsage;

  std::string stream;
  bool delivered = true;
  bspp::JobReport report;
  std::string device;
  if (o.stream) {
    stream = text;
  } else {
    if (o.printsToPort()) device = o.port.value_or(bspp::kFirstParallelPort);
    ToolPlatform platform(o.printsToPort() ? std::optional<std::string>(device) : std::nullopt,
                          stream);
    const auto lastIndex = static_cast<std::int32_t>(text.size()) - 1;
    delivered = bspp::printJob(platform, text.data(), lastIndex, o.waitMs, o.keepPage ? 1 : 0,
                               &report);
    // Nothing was composed, so there is nothing to write, list or draw.
    if (!delivered && stream.empty()) {
      say(notPrinted(report, device, o.waitMs));
      return kNotPrinted;
    }
  }

  int status = kPrinted;
  if (!delivered) {
    say(notPrinted(report, device, o.waitMs));
    status = kNotPrinted;
  }
  if (o.output) {
    std::string error;
    if (!bspp::tools::writeWhole(*o.output, stream, error)) {
      say(error);
      status = kNotPrinted;
    }
  }
  if (o.dump && !bspp::preview::dumpStream(stream, stdout)) {
    say("could not write the listing to standard output");
    status = kNotPrinted;
  }
  if (o.preview && !writePreview(o, stream)) status = kNotPrinted;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(bspp::tools::utf8Arguments(argc, argv));
  } catch (const std::exception& e) {
    say(e.what());
    return kNotPrinted;
  }
}
