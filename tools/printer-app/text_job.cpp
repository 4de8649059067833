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
  if (name.empty()) return Charset::automatic;
  if (name == "utf-8" || name == "utf8" || name == "us-ascii") return Charset::utf8;
  if (name == "gb2312" || name == "gbk" || name == "gb18030" || name == "cp936" ||
      name == "euc-cn" || name == "windows-936") {
    return Charset::gb2312;
  }
  return Charset::unsupported;
}

std::string where(std::size_t line, std::size_t column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool isUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (length == 0 || b > 0xF4 || i + static_cast<std::size_t>(length) > s.size()) return false;
    char32_t cp = length == 4 ? (b & 0x07u) : length == 3 ? (b & 0x0Fu) : (b & 0x1Fu);
    for (int k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0u) != 0x80u) return false;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

bool isGb2312(std::string_view s) {
  try {
    checkGb2312(s);
    return true;
  } catch (const tools::InputError&) {
    return false;
  }
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
    } else if (charset == Charset::automatic) {
      // Only a document that is not UTF-8 at all may be GB2312; a UTF-8
      // text with a character outside GB2312 reports that character.
      if (!isUtf8(document) && isGb2312(document)) {
        gb = std::string(document);
      } else {
        gb = tools::utf8ToGb2312(document);
      }
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
