// bspp-print: prints a file as one job, or shows what the job would be.
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "file_io.h"
#include "options.h"
#include "port/lpt_port.h"
#include "preview/escp_render.h"
#include "preview/png_writer.h"
#include "preview/stream_dump.h"
#include "text_input.h"

namespace {

using bspp::tools::Options;

constexpr int kPrinted = 0;
constexpr int kNotPrinted = 1;
constexpr int kUsage = 2;

void say(const std::string& message) {
  std::fprintf(stderr, "bspp-print: %s\n", message.c_str());
}

// Hands the composed stream to the real port, when there is one, and keeps
// a copy of exactly what was handed over.
class CapturingPort final : public bspp::Port {
 public:
  CapturingPort(std::unique_ptr<bspp::Port> port, std::string& copy)
      : port_(std::move(port)), copy_(copy) {}
  bool transfer(const std::string& stream, std::uint32_t waitMs) override {
    copy_ = stream;
    return port_ ? port_->transfer(stream, waitMs) : true;
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
    if (o.lines) text = bspp::tools::linesToRecords(text);
  } catch (const bspp::tools::InputError& e) {
    say(displayName(o.input) + ":" + std::to_string(e.line()) + ":" + std::to_string(e.column()) +
        ": " + e.what() + "; nothing printed");
    return false;
  }
  if (o.appendNul) text.push_back('\0');
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
    say(displayName(o.input) + " is too large for one job");
    return false;
  }
  const std::size_t dangling = bspp::tools::danglingLeadByte(text);
  if (dangling != std::string::npos) {
    say("warning: " + displayName(o.input) + " ends inside a double-byte character (byte " +
        std::to_string(dangling) +
        "); it is printed as the library does, paired with a NUL");
  }
  return true;
}

std::string portFailure(const std::string& device, std::uint32_t waitMs) {
#ifndef _WIN32
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    return "no printer port at " + device + "; the job was not printed";
  }
#endif
  return "the printer at " + device + " did not take the whole job within " +
         std::to_string(waitMs) + " ms (busy, offline or too slow; try a longer --wait)";
}

// Draws and writes one page at a time: memory stays one page whatever the
// stream holds.
bool writePreview(const Options& o, const std::string& stream) {
  bspp::preview::RenderOptions options;
  options.paper = *bspp::preview::paperNamed(o.paper);
  options.maxPages = o.maxPages;
  std::string list;
  std::string last;
  std::string failure;
  const bspp::preview::RenderSummary r = bspp::preview::render(
      stream, options, [&](const bspp::preview::Page& page, std::size_t number) {
        const std::string name = bspp::preview::pageFileName(*o.preview, number);
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
    std::fputs(bspp::tools::helpText(bspp::kFirstParallelPort).c_str(), stdout);
    return kPrinted;
  }
  if (o.version) {
    std::printf("bspp-print %s\n", BSPP_VERSION);
    return kPrinted;
  }

  std::string text;
  if (!jobText(o, text)) return kUsage;

  std::string stream;
  bool delivered = true;
  std::string device;
  if (o.stream) {
    stream = text;
  } else {
    if (o.printsToPort()) device = o.port.value_or(bspp::kFirstParallelPort);
    ToolPlatform platform(o.printsToPort() ? std::optional<std::string>(device) : std::nullopt,
                          stream);
    const auto lastIndex = static_cast<std::int32_t>(text.size()) - 1;
    delivered = bspp::printJob(platform, text.data(), lastIndex, o.waitMs, o.keepPage ? 1 : 0);
    if (!delivered && !o.printsToPort()) {
      say("could not compose the job (out of memory)");
      return kNotPrinted;
    }
  }

  int status = kPrinted;
  if (!delivered) {
    say(portFailure(device, o.waitMs));
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
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    say(e.what());
    return kNotPrinted;
  }
}
