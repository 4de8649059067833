#include "text_job.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "text_input.h"
#include "text_records.h"

namespace bspp::printer_app {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\"");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\"");
  return std::string(s.substr(first, last - first + 1));
}

Charset charsetNamed(const std::string& name) {
  if (name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii") return Charset::utf8;
  if (name == "gb2312" || name == "gbk" || name == "gb18030" || name == "cp936" ||
      name == "euc-cn" || name == "windows-936") {
    return Charset::gb2312;
  }
  return Charset::unsupported;
}

std::string where(std::size_t line, std::size_t column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

Charset charsetOf(std::string_view format, std::string_view documentCharset) {
  const std::string f = lower(format);
  const auto at = f.find("charset=");
  if (at != std::string::npos) {
    std::string name = f.substr(at + 8);
    name = name.substr(0, name.find(';'));
    return charsetNamed(trim(name));
  }
  return charsetNamed(trim(lower(documentCharset)));
}

std::string composeTextJob(std::string_view document, Charset charset) {
  std::string gb;
  try {
    if (charset == Charset::gb2312) {
      checkGb2312(document);
      gb = std::string(document);
    } else if (charset == Charset::utf8) {
      gb = tools::utf8ToGb2312(document);
    } else {
      throw TextJobError("the document's charset is not supported (send UTF-8 or GB2312)");
    }
  } catch (const tools::InputError& e) {
    throw TextJobError(where(e.line(), e.column()) + ": " + e.what() + "; nothing was printed");
  }

  std::string records = textToRecords(gb);
  // As bspp-print sends a file: a NUL as the last byte, so that the last
  // line is ended by a form feed and no visible character is cut.
  if (records.empty() || records.back() != '\0') records.push_back('\0');

  std::unique_ptr<DrawSurface> surface = prepareGlyphSurface();
  std::string stream = composeJob(records, /*keepPage=*/false, *surface);
  if (surface->missedGlyph()) {
    const TextPosition at = firstDoubleByte(gb);
    throw TextJobError("no Chinese font is installed to draw the characters (first at " +
                       where(at.line, at.column) + "); nothing was printed");
  }
  return stream;
}

}  // namespace bspp::printer_app
