#include "options.h"

#include "port/port.h"
#include "preview/escp_render.h"

namespace bspp::tools {
namespace {

std::uint32_t parseWait(const std::string& value) {
  // The library's own "until the write has ended".
  if (value == "forever") return kWaitUntilWritten;
  if (value.empty() || value.size() > 10 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    throw UsageError("--wait takes a number of milliseconds or \"forever\", not \"" + value +
                     "\"");
  }
  const unsigned long long ms = std::stoull(value);
  if (ms > kWaitUntilWritten) throw UsageError("--wait must be at most 4294967295 ms (forever)");
  return static_cast<std::uint32_t>(ms);
}

std::size_t parseMaxPages(const std::string& value) {
  if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos ||
      std::stoul(value) == 0) {
    throw UsageError("--max-pages takes a number of pages from 1 to 999999, not \"" + value + "\"");
  }
  return static_cast<std::size_t>(std::stoul(value));
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Options o;
  bool haveInput = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      if (haveInput) throw UsageError("only one input file can be printed at a time");
      o.input = arg;
      haveInput = true;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value or --name value.
    std::optional<std::string> inlineValue;
    if (arg.compare(0, 2, "--") == 0) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    auto flag = [&](bool& f) {
      if (inlineValue) throw UsageError(arg + " takes no value");
      f = true;
    };
    if (arg == "--help" || arg == "-h") flag(o.help);
    else if (arg == "--version") flag(o.version);
    else if (arg == "--wait" || arg == "-w") o.waitMs = parseWait(value());
    else if (arg == "--keep-page") flag(o.keepPage);
    else if (arg == "--port" || arg == "-p") o.port = value();
    else if (arg == "--output" || arg == "-o") o.output = value();
    else if (arg == "--dump") flag(o.dump);
    else if (arg == "--preview") o.preview = value();
    else if (arg == "--paper") o.paper = value();
    else if (arg == "--max-pages") o.maxPages = parseMaxPages(value());
    else if (arg == "--utf8") flag(o.utf8);
    else if (arg == "--lines") flag(o.lines);
    else if (arg == "--wrap") flag(o.wrap);
    else if (arg == "--nul") flag(o.nulGiven);
    else if (arg == "--exact") flag(o.exact);
    else if (arg == "--stream") flag(o.stream);
    else throw UsageError("unknown option " + arg);
  }
  if (o.help || o.version) return o;
  if (!haveInput) throw UsageError("no input file (give FILE, or - for standard input)");
  if (o.port && o.port->empty()) throw UsageError("--port needs a device path");
  if (o.output && o.output->empty()) throw UsageError("--output needs a file name");
  if (o.preview && (o.preview->empty() || *o.preview == "-")) {
    throw UsageError("--preview needs a file name for the PNG");
  }
  if (!bspp::preview::paperNamed(o.paper)) {
    throw UsageError("--paper is one of " + bspp::preview::paperNames() + ", not \"" + o.paper + "\"");
  }
  if (o.dump && o.output && *o.output == "-") {
    throw UsageError("--dump and --output - both write to standard output; give --output a file");
  }
  if (o.exact && o.nulGiven) {
    throw UsageError("--exact sends the file's bytes as they are; --nul (the default) adds a NUL");
  }
  if (o.wrap && !o.lines) throw UsageError("--wrap lays out lines: give --lines too");
  if (o.stream) {
    if (o.port) throw UsageError("--stream only lists, previews or copies a stream; it is not sent to a port");
    if (o.utf8 || o.lines || o.exact || o.nulGiven || o.keepPage) {
      throw UsageError(
          "--utf8, --lines, --wrap, --exact, --nul and --keep-page shape a text; --stream reads a "
          "finished stream");
    }
    if (!o.output && !o.dump && !o.preview) {
      throw UsageError("--stream needs --dump, --preview or --output");
    }
  }
  return o;
}

std::string helpText(const char* defaultPort) {
  return std::string(
             "Usage: bspp-print [options] FILE|-\n"
             "Prints FILE (or standard input) as one job, exactly as the library's BSPPring\n"
             "call does: GB2312 text in fixed 80-column records, Chinese characters as dot\n"
             "graphics, on an ESC/P 9-pin printer.\n"
             "\n"
             "Where the job goes (without --output, --dump or --preview: to the port):\n"
             "  -p, --port PATH     printer port (default ") +
         defaultPort +
         ")\n"
         "  -o, --output FILE   dry run: write the job stream to FILE (- for standard\n"
         "                      output) instead of a port; the file is written whole or\n"
         "                      not at all\n"
         "      --dump          write an annotated listing of the stream to standard output\n"
         "      --preview FILE.png\n"
         "                      draw the printed pages: FILE.png, then FILE-2.png, ...\n"
         "      --paper NAME    the paper --preview draws on: 11in (continuous forms\n"
         "                      8.5 x 11 in, the default), 12in (8.5 x 12 in), a4, letter\n"
         "      --max-pages N   --preview draws nothing for a stream of more than N pages\n"
         "                      (default 100)\n"
         "  With --output, --dump or --preview nothing is printed unless --port is given.\n"
         "\n"
         "The job:\n"
         "  -w, --wait MS       milliseconds to give the printer before the single check\n"
         "                      that it took the whole job (default 10000); the call\n"
         "                      always takes this long when printing; \"forever\" (or\n"
         "                      4294967295) waits until the printer has taken it all\n"
         "                      The job is the file's bytes and then a NUL, unless the\n"
         "                      file ends with one: as a host that passes strlen(text)\n"
         "                      as lastIndex. The last line is then partial, so the page\n"
         "                      is ejected, and the byte the library cuts from it is\n"
         "                      the NUL, never a character.\n"
         "      --keep-page     no form feed at the end (BSPPring's keepPage = 1)\n"
         "      --exact         the job is exactly the file's bytes (lastIndex = size - 1):\n"
         "                      a partly filled last line then loses its last byte\n"
         "                      unless --keep-page is given\n"
         "      --nul           the default; accepted for older scripts\n"
         "\n"
         "The input:\n"
         "      --utf8          FILE is UTF-8: convert it to GB2312 first; a character\n"
         "                      outside GB2312 is an error naming its line and column\n"
         "      --lines         FILE has line breaks: pad each line to an 80-column record\n"
         "                      (a Chinese character takes 2 columns) and drop the breaks;\n"
         "                      a wider line is an error\n"
         "      --wrap          with --lines: continue a wider line in the next record, and\n"
         "                      give a form feed a record of its own (a new page), as the\n"
         "                      printer application lays out text\n"
         "      --stream        FILE is a finished job stream (e.g. what reached a port):\n"
         "                      only --dump, --preview and --output apply\n"
         "  -h, --help          this text\n"
         "      --version       the version\n"
         "\n"
         "Exit status: 0 printed (or written), 1 the job was not printed (no port, no\n"
         "permission, busy, too slow for --wait, no Chinese font) or a result could not\n"
         "be written, 2 usage or input error (nothing printed or written).\n";
}

}  // namespace bspp::tools
