#include "text_input.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "compose/escp.h"

namespace bspp::tools {
namespace {

std::string codePoint(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

std::string hexBytes(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%s%02X", text.empty() ? "" : " ", static_cast<unsigned char>(c));
    text += buf;
  }
  return text;
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
class TextDecoderConverter {
 public:
  TextDecoderConverter() : have20936_(IsValidCodePage(20936) != FALSE) {}
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
class TextDecoderConverter {
 public:
  TextDecoderConverter() : gbk_("CP936"), gb2312_("GB2312") {
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

constexpr char32_t kByteOrderMark = 0xFEFF;

}  // namespace

class TextDecoder::Converter : public TextDecoderConverter {};

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

void CodeSet::add(unsigned char lead, unsigned char trail) {
  if (isGb2312Code(lead, trail)) codes_.set(static_cast<std::size_t>(lead - 0xA1) * 94 + (trail - 0xA1));
}

bool CodeSet::has(unsigned char lead, unsigned char trail) const {
  return isGb2312Code(lead, trail) && codes_.test(static_cast<std::size_t>(lead - 0xA1) * 94 + (trail - 0xA1));
}

TextDecoder::TextDecoder(Encoding encoding, OnFault onFault)
    : encoding_(encoding), onFault_(onFault) {
  if (encoding_ == Encoding::utf8) converter_ = std::make_unique<Converter>();
}

TextDecoder::~TextDecoder() = default;

void TextDecoder::decode(std::string_view piece, std::string& out) {
  for (const char c : piece) {
    const auto b = static_cast<unsigned char>(c);
    if (encoding_ == Encoding::utf8) {
      decodeUtf8(b, out);
    } else {
      decodeGb2312(b, out);
    }
  }
}

void TextDecoder::finish() {
  if (pending_.empty()) return;
  if (encoding_ == Encoding::utf8) {
    malformedUtf8();
  } else {
    fault("bytes " + hexBytes(pending_) + " are not a GB2312 character", true);
  }
}

void TextDecoder::malformedUtf8() {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned char>(pending_[0]));
  fault(std::string("invalid UTF-8 (byte ") + buf + ")", true);
}

// The character in pending_ cannot be read: stop, or note it and go on
// after it.
void TextDecoder::fault(const std::string& what, bool malformed) {
  if (onFault_ == OnFault::stop) throw InputError(line_, column_, what);
  if (!firstFault_) firstFault_.emplace(line_, column_, what);
  if (malformed) wellFormed_ = false;
  pending_.clear();
}

void TextDecoder::startCharacter(unsigned char b) {
  ++column_;
  if (b == '\n') {
    ++line_;
    column_ = 0;
  }
}

void TextDecoder::emitPair(unsigned char lead, unsigned char trail, std::string& out) {
  if (firstDoubleByte_.line == 0) firstDoubleByte_ = {line_, column_};
  codes_.add(lead, trail);
  out.push_back(static_cast<char>(lead));
  out.push_back(static_cast<char>(trail));
}

void TextDecoder::decodeGb2312(unsigned char b, std::string& out) {
  if (!pending_.empty()) {
    const auto lead = static_cast<unsigned char>(pending_[0]);
    pending_.push_back(static_cast<char>(b));
    // The same rule as for UTF-8 text: exactly the codes of GB 2312.
    if (!isGb2312Code(lead, b)) return fault("bytes " + hexBytes(pending_) + " are not a GB2312 character", true);
    pending_.clear();
    emitPair(lead, b, out);
    return;
  }
  startCharacter(b);
  if (b < 0x80) {
    out.push_back(static_cast<char>(b));
  } else {
    pending_.push_back(static_cast<char>(b));
  }
}

void TextDecoder::decodeUtf8(unsigned char b, std::string& out) {
  if (pending_.empty()) {
    if (b < 0x80) {
      started_ = true;
      startCharacter(b);
      out.push_back(static_cast<char>(b));
      return;
    }
    ++column_;
    pending_.push_back(static_cast<char>(b));
    needed_ = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (needed_ == 0 || b > 0xF4) malformedUtf8();  // a stray continuation or a byte UTF-8 never uses
    return;
  }
  if ((b & 0xC0u) != 0x80u) {
    // The sequence is cut short; the byte that cut it starts afresh.
    malformedUtf8();
    return decodeUtf8(b, out);
  }
  pending_.push_back(static_cast<char>(b));
  if (pending_.size() < needed_) return;

  // Decode one multi-byte sequence, refusing overlong forms, surrogates
  // and values past U+10FFFF.
  const auto b0 = static_cast<unsigned char>(pending_[0]);
  char32_t cp = needed_ == 4 ? (b0 & 0x07u) : needed_ == 3 ? (b0 & 0x0Fu) : (b0 & 0x1Fu);
  for (std::size_t k = 1; k < needed_; ++k) cp = (cp << 6) | (static_cast<unsigned char>(pending_[k]) & 0x3Fu);
  const char32_t minimum = needed_ == 2 ? 0x80 : needed_ == 3 ? 0x800 : 0x10000;
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return malformedUtf8();

  if (cp == kByteOrderMark && !started_) {  // dropped, and not counted as a column
    --column_;
    pending_.clear();
    started_ = true;
    return;
  }
  started_ = true;
  std::string bytes = converter_->gbk(cp);
  if (!isGb2312Pair(bytes)) bytes = converter_->gb2312(cp);
  if (!isGb2312Pair(bytes)) return fault("character " + codePoint(cp) + " \"" + pending_ + "\" is not in GB2312", false);
  pending_.clear();
  emitPair(static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1]), out);
}

std::string utf8ToGb2312(std::string_view utf8) {
  TextDecoder decoder(Encoding::utf8);
  std::string out;
  out.reserve(utf8.size());
  decoder.decode(utf8, out);
  decoder.finish();
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

bool endsWithOwnNul(std::string_view text) {
  return !text.empty() && text.back() == '\0' &&
         danglingLeadByte(text.substr(0, text.size() - 1)) == std::string_view::npos;
}

}  // namespace bspp::tools
