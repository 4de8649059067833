// bspp-print's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bspp::tools {

struct Options {
  std::string input;                  // a file, or "-" for standard input
  std::uint32_t waitMs = 10000;
  bool keepPage = false;
  std::optional<std::string> port;    // given explicitly
  std::optional<std::string> output;  // a file, or "-"
  bool dump = false;
  std::optional<std::string> preview;
  std::string paper = "11in";         // --preview's paper
  std::size_t maxPages = 100;         // --preview draws no stream longer
  bool utf8 = false;
  bool lines = false;
  bool wrap = false;  // --lines continues long lines instead of refusing them
  // The job is the file's bytes exactly. By default a NUL is added as the
  // last byte unless the file ends with one, as a host passing strlen(text)
  // as lastIndex does: the closing rule then cuts the NUL, not a character.
  bool exact = false;
  bool nulGiven = false;  // --nul: the default, still accepted
  bool stream = false;  // the input is a job stream already
  bool help = false;
  bool version = false;

  // True when the job goes to a printer port: --port was given, or none of
  // the dry-run outputs was asked for.
  bool printsToPort() const { return port.has_value() || (!output && !dump && !preview); }
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses argv[1..]. Throws UsageError for anything it cannot accept.
Options parseOptions(const std::vector<std::string>& args);

// The --help text.
std::string helpText(const char* defaultPort);

}  // namespace bspp::tools
