#include "text_input.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace bspp::tools {
namespace {

constexpr int kRecordColumns = 80;
constexpr unsigned char kLeadByteMin = 0xA0;

std::string codePoint(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

#ifdef _WIN32
// One character to a Windows code page, refusing best-fit look-alikes and
// the default character.
std::string toCodePage(UINT codePage, char32_t cp) {
  wchar_t wide[2];
  int units = 1;
  if (cp >= 0x10000) {
    wide[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
    wide[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    units = 2;
  } else {
    wide[0] = static_cast<wchar_t>(cp);
  }
  char out[8];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, units, out, sizeof out,
                                    nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return {};
  return std::string(out, static_cast<std::size_t>(n));
}

// Code page 936 (GBK) reads the bytes as the library's glyph raster does;
// 20936 (GB2312 proper, where installed) also maps the few characters for
// which GB2312 and GBK name different code points for the same code.
class Converter {
 public:
  Converter() : have20936_(IsValidCodePage(20936) != FALSE) {}
  std::string gbk(char32_t cp) const { return toCodePage(936, cp); }
  std::string gb2312(char32_t cp) const { return have20936_ ? toCodePage(20936, cp) : std::string(); }

 private:
  bool have20936_;
};
#else
// One iconv conversion descriptor from UTF-32LE, closed on every way out.
class Iconv {
 public:
  explicit Iconv(const char* to) : cd_(iconv_open(to, "UTF-32LE")) {}
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  std::string convert(char32_t cp) {
    if (!valid()) return {};
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    char in[4];
    for (int i = 0; i < 4; ++i) in[i] = static_cast<char>((cp >> (8 * i)) & 0xFFu);
    char out[8];
    char* inPtr = in;
    std::size_t inLeft = sizeof in;
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return {};
    return std::string(out, sizeof out - outLeft);
  }

 private:
  iconv_t cd_;
};

// CP936 (GBK) reads the bytes as the library's glyph raster does; GB2312
// also maps the few characters for which GB2312 and GBK name different code
// points for the same code (U+30FB and U+00B7 are both A1 A4).
class Converter {
 public:
  Converter() : gbk_("CP936"), gb2312_("GB2312") {
    if (!gbk_.valid()) throw std::runtime_error("this system's iconv cannot convert to CP936");
  }
  std::string gbk(char32_t cp) { return gbk_.convert(cp); }
  std::string gb2312(char32_t cp) { return gb2312_.convert(cp); }

 private:
  Iconv gbk_;
  Iconv gb2312_;
};
#endif

bool isGb2312Pair(const std::string& bytes) {
  return bytes.size() == 2 &&
         isGb2312Code(static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1]));
}

}  // namespace

bool isGb2312Code(unsigned char lead, unsigned char trail) {
  if (lead < 0xA1 || lead > 0xFE || trail < 0xA1 || trail > 0xFE) return false;
  // Rows 16-87 (B0-F7) are the hanzi, full but for the end of row 55; rows
  // 1-9 (A1-A9) the symbols, with gaps; rows 10-15 and 88-94 are empty.
  if (lead >= 0xB0 && lead <= 0xF7) return lead != 0xD7 || trail <= 0xF9;
  struct Run {
    unsigned char lead, first, last;
  };
  static constexpr Run kSymbols[] = {
      {0xA1, 0xA1, 0xFE}, {0xA2, 0xB1, 0xE2}, {0xA2, 0xE5, 0xEE}, {0xA2, 0xF1, 0xFC},
      {0xA3, 0xA1, 0xFE}, {0xA4, 0xA1, 0xF3}, {0xA5, 0xA1, 0xF6}, {0xA6, 0xA1, 0xB8},
      {0xA6, 0xC1, 0xD8}, {0xA7, 0xA1, 0xC1}, {0xA7, 0xD1, 0xF1}, {0xA8, 0xA1, 0xBA},
      {0xA8, 0xC5, 0xE9}, {0xA9, 0xA4, 0xEF},
  };
  for (const Run& run : kSymbols) {
    if (run.lead == lead && trail >= run.first && trail <= run.last) return true;
  }
  return false;
}

std::string utf8ToGb2312(std::string_view utf8) {
  Converter converter;
  std::string out;
  out.reserve(utf8.size());
  std::size_t line = 1;
  std::size_t column = 0;
  std::size_t i = 0;
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
  while (i < utf8.size()) {
    ++column;
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out.push_back(static_cast<char>(b0));
      ++i;
      if (b0 == '\n') {
        ++line;
        column = 0;
      }
      continue;
    }
    // Decode one multi-byte sequence, refusing overlong forms, surrogates
    // and values past U+10FFFF.
    int length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    char32_t cp = length == 4 ? (b0 & 0x07u) : length == 3 ? (b0 & 0x0Fu) : (b0 & 0x1Fu);
    bool valid = length != 0 && b0 <= 0xF4 && i + static_cast<std::size_t>(length) <= utf8.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
      valid = (b & 0xC0u) == 0x80u;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if (valid) {
      const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      valid = cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (!valid) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02X", b0);
      throw InputError(line, column, std::string("invalid UTF-8 (byte ") + buf + ")");
    }
    std::string bytes = converter.gbk(cp);
    if (!isGb2312Pair(bytes)) bytes = converter.gb2312(cp);
    if (!isGb2312Pair(bytes)) {
      throw InputError(line, column,
                       "character " + codePoint(cp) + " \"" +
                           std::string(utf8.substr(i, static_cast<std::size_t>(length))) +
                           "\" is not in GB2312");
    }
    out += bytes;
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string linesToRecords(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  std::size_t line = 1;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    const std::string_view record = text.substr(start, end - start);

    int columns = 0;
    std::size_t characters = 0;
    for (std::size_t j = 0; j < record.size(); ++j) {
      ++characters;
      const bool wide = static_cast<unsigned char>(record[j]) >= kLeadByteMin;
      if (wide) ++j;
      columns += wide ? 2 : 1;
      if (columns > kRecordColumns) {
        throw InputError(line, characters,
                         "the line is wider than 80 columns (a Chinese character takes 2)");
      }
    }
    out += record;
    out.append(static_cast<std::size_t>(kRecordColumns - columns), ' ');
    ++line;
    start = next;
  }
  return out;
}

std::size_t danglingLeadByte(std::string_view text) {
  for (std::size_t j = 0; j < text.size(); ++j) {
    if (static_cast<unsigned char>(text[j]) >= kLeadByteMin) {
      if (j + 1 == text.size()) return j;
      ++j;
    }
  }
  return std::string_view::npos;
}

}  // namespace bspp::tools
