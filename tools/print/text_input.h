// Turning a user's text into the bytes of one job: the characters that may
// be printed, and how they are read. Everything here can be fed a document
// in pieces of any size, so that a text of any length is checked and
// converted in bounded memory.
#pragma once

#include <bitset>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bspp::tools {

// A fault in the input, with the 1-based line and column (in characters) it
// was found at.
class InputError : public std::runtime_error {
 public:
  InputError(std::size_t line, std::size_t column, const std::string& what)
      : std::runtime_error(what), line_(line), column_(column) {}
  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }

 private:
  std::size_t line_;
  std::size_t column_;
};

// True when lead and trail byte are the code of a character of GB 2312
// (EUC-CN): both bytes A1-FE and the code assigned in GB 2312 itself. GBK
// assigns more codes in that range (A8 BB "ɑ", the user-defined rows AA-AF
// and F8-FE) that are not.
bool isGb2312Code(unsigned char lead, unsigned char trail);

// Where a character stands in a text: line and column, in characters, from 1.
struct TextPosition {
  std::size_t line = 0;
  std::size_t column = 0;
};

// The double-byte characters a text holds, one bit per code (94 x 94).
class CodeSet {
 public:
  void add(unsigned char lead, unsigned char trail);
  bool has(unsigned char lead, unsigned char trail) const;
  bool empty() const { return codes_.none(); }
  // Calls f(lead, trail) for each code, in order.
  template <typename F>
  void forEach(F f) const {
    for (std::size_t i = 0; i < codes_.size(); ++i) {
      if (codes_[i]) f(static_cast<unsigned char>(0xA1 + i / 94), static_cast<unsigned char>(0xA1 + i % 94));
    }
  }

 private:
  std::bitset<94 * 94> codes_;
};

// How a document's characters are written.
enum class Encoding {
  utf8,    // ASCII and GB 2312's characters in UTF-8; a leading byte-order mark is dropped
  gb2312,  // ASCII and GB 2312's two-byte codes (EUC-CN)
};

// What a decoder does at a fault in the text.
enum class OnFault {
  stop,  // throws the InputError
  note,  // notes the first (firstFault()), skips the character and goes on
};

// Reads a document, piece by piece, into the bytes the library prints: ASCII
// stays as it is, every other character must be one of GB 2312's and becomes
// its two bytes (isGb2312Code), which the library's glyph raster reads back
// as code page 936 reads them. A fault, named by line and column, is
// malformed UTF-8, a character outside GB 2312 (also one that only GBK/code
// page 936 has) or, in GB2312, bytes that are not one of its characters.
class TextDecoder {
 public:
  explicit TextDecoder(Encoding encoding, OnFault onFault = OnFault::stop);
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;
  ~TextDecoder();

  // Appends the bytes of the next piece to `out`. A character cut at the
  // piece's end is finished by the next piece.
  void decode(std::string_view piece, std::string& out);
  // The document has ended: throws if it ends inside a character.
  void finish();

  // The first fault, with OnFault::note.
  const std::optional<InputError>& firstFault() const { return firstFault_; }
  // True while every byte so far was well formed in the encoding (a UTF-8
  // text whose only faults are characters outside GB 2312 is well formed).
  bool wellFormed() const { return wellFormed_; }

  // Where the first double-byte character was ({0, 0}: none so far).
  TextPosition firstDoubleByte() const { return firstDoubleByte_; }
  // Every double-byte character seen so far.
  const CodeSet& codes() const { return codes_; }

 private:
  class Converter;
  void decodeUtf8(unsigned char b, std::string& out);
  void decodeGb2312(unsigned char b, std::string& out);
  void startCharacter(unsigned char b);
  void emitPair(unsigned char lead, unsigned char trail, std::string& out);
  void fault(const std::string& what, bool malformed);
  void malformedUtf8();

  Encoding encoding_;
  OnFault onFault_;
  std::optional<InputError> firstFault_;
  bool wellFormed_ = true;
  std::unique_ptr<Converter> converter_;  // UTF-8 only
  std::string pending_;                   // bytes of a character not yet complete
  std::size_t needed_ = 0;                // its length in bytes
  std::size_t line_ = 1;
  std::size_t column_ = 0;                // of the last character started
  bool started_ = false;                  // anything but a byte-order mark seen
  TextPosition firstDoubleByte_;
  CodeSet codes_;
};

// Converts a whole UTF-8 text (TextDecoder, Encoding::utf8).
std::string utf8ToGb2312(std::string_view utf8);

// Offset of a lead byte that is the text's last byte (the file was cut in
// the middle of a character), or npos.
std::size_t danglingLeadByte(std::string_view gbText);

// True when the job text already ends with a NUL of its own (not the trail
// byte the library pairs with a lead byte): no closing NUL is added then.
bool endsWithOwnNul(std::string_view jobText);

}  // namespace bspp::tools
