// Turning users' files into job text: UTF-8 to GB2312, and line records.
#include <gtest/gtest.h>

#include <iconv.h>

#include <random>

#include "text_input.h"
#include "text_records.h"

namespace bspp::tools {
namespace {

// The fault that `f` throws, as "line:column".
template <typename F>
std::string faultAt(F f) {
  try {
    f();
  } catch (const InputError& e) {
    return std::to_string(e.line()) + ":" + std::to_string(e.column());
  }
  return "none";
}

TEST(Utf8ToGb2312, ConvertsAsciiAndGb2312Characters) {
  EXPECT_EQ(utf8ToGb2312("AB\xE5\x95\x8A" "C\r\n"), "AB\xB0\xA1" "C\r\n");  // 啊 = B0 A1
  EXPECT_EQ(utf8ToGb2312("\xE5\xAE\x8B\xE4\xBD\x93"), "\xCB\xCE\xCC\xE5");     // 宋体
  EXPECT_EQ(utf8ToGb2312("\xEF\xBC\x9A"), "\xA3\xBA");  // full-width colon
  EXPECT_EQ(utf8ToGb2312("\xEF\xBB\xBFok"), "ok");      // byte-order mark dropped
  EXPECT_EQ(utf8ToGb2312(std::string("\0x", 2)), std::string("\0x", 2));
}

TEST(Utf8ToGb2312, NamesLineAndColumnOfACharacterOutsideGb2312) {
  // Line 2, column 3: an emoji; a GBK-only character; the euro sign, which
  // code page 936 maps to the single byte 80; a Korean syllable.
  EXPECT_EQ(faultAt([] { utf8ToGb2312("abc\nxy\xF0\x9F\x98\x80z"); }), "2:3");
  EXPECT_EQ(faultAt([] { utf8ToGb2312("\xE5\x95\x8A\xE9\x95\x95"); }), "1:2");  // 啊镕
  EXPECT_EQ(faultAt([] { utf8ToGb2312("x\xE2\x82\xAC"); }), "1:2");
  EXPECT_EQ(faultAt([] { utf8ToGb2312("\xEA\xB0\x80"); }), "1:1");
  // The message names the character.
  std::string message = "nothing thrown";
  try {
    utf8ToGb2312("\xF0\x9F\x98\x80");
  } catch (const InputError& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("U+1F600"), std::string::npos) << message;
}

TEST(Utf8ToGb2312, RefusesWhatOnlyGbkHasAndMapsAsGb2312Does) {
  // ɑ is A8 BB in GBK only, U+E000 its user-defined AA A1.
  EXPECT_EQ(faultAt([] { utf8ToGb2312("ab\xC9\x91"); }), "1:3");
  EXPECT_EQ(faultAt([] { utf8ToGb2312("\n\xEE\x80\x80"); }), "2:1");
  // 座 and ╋ end their rows; GB 2312 and GBK map ・ and ― from different code points.
  EXPECT_EQ(utf8ToGb2312("\xE5\xBA\xA7\xE2\x95\x8B"), "\xD7\xF9\xA9\xEF");
  EXPECT_EQ(utf8ToGb2312("\xC2\xB7\xE3\x83\xBB\xE2\x80\x94\xE2\x80\x95"), "\xA1\xA4\xA1\xA4\xA1\xAA\xA1\xAA");
}

// Every code of the 94 x 94 table against the C library's own GB2312
// (EUC-CN) decoder: one rule for what --utf8 takes.
TEST(IsGb2312Code, AgreesWithTheSystemsGb2312Table) {
  const iconv_t cd = iconv_open("UTF-32LE", "GB2312");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int characters = 0;
  for (int lead = 0xA1; lead <= 0xFE; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)}, out[8];
      char *inPtr = in, *outPtr = out;
      std::size_t inLeft = 2, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      const bool known = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
      characters += known;
      EXPECT_EQ(isGb2312Code(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)), known)
          << std::hex << lead << " " << trail;
    }
  }
  iconv_close(cd);
  EXPECT_EQ(characters, 7445);
  EXPECT_FALSE(isGb2312Code(0xA0, 0xA1));
  EXPECT_FALSE(isGb2312Code(0xB0, 0x7F));
}

TEST(Utf8ToGb2312, RefusesMalformedUtf8) {
  EXPECT_EQ(faultAt([] { utf8ToGb2312("ab\xE5\x95"); }), "1:3");  // cut short
  EXPECT_EQ(faultAt([] { utf8ToGb2312("\xC0\x80"); }), "1:1");    // overlong
  EXPECT_EQ(faultAt([] { utf8ToGb2312("\xED\xA0\x80"); }), "1:1");  // surrogate
  EXPECT_EQ(faultAt([] { utf8ToGb2312("a\n\x95"); }), "2:1");     // stray continuation
}

TEST(LinesToRecords, PadsEachLineTo80ColumnsCountingChineseAsTwo) {
  const std::string out = linesToRecords("ab\r\n\xB0\xA1x\n\n");
  ASSERT_EQ(out.size(), 240u);
  EXPECT_EQ(out.substr(0, 80), "ab" + std::string(78, ' '));
  EXPECT_EQ(out.substr(80, 80), "\xB0\xA1x" + std::string(77, ' '));
  EXPECT_EQ(out.substr(160), std::string(80, ' '));
  EXPECT_EQ(linesToRecords("last line without a break").size(), 80u);
  EXPECT_EQ(linesToRecords(""), "");
}

TEST(LinesToRecords, RefusesALineWiderThan80Columns) {
  EXPECT_EQ(linesToRecords(std::string(80, 'x')).size(), 80u);
  EXPECT_EQ(faultAt([] { linesToRecords("ok\n" + std::string(81, 'x')); }), "2:81");
  // A Chinese character starting in column 79 would make an 81-column line.
  EXPECT_EQ(faultAt([] { linesToRecords(std::string(79, 'x') + "\xB0\xA1"); }), "1:80");
}

TEST(LinesToRecords, WrapContinuesLongLinesAndGivesFormFeedsARecord) {
  const auto wrapped = [](std::string_view text) { return linesToRecords(text, LongLines::wrap); };
  const std::string blank(80, ' ');
  EXPECT_EQ(wrapped(std::string(81, 'x')), std::string(80, 'x') + "x" + blank.substr(1));
  // A Chinese character that would start in column 79 moves to the next record whole.
  EXPECT_EQ(wrapped(std::string(79, 'a') + "\xD6\xD0"),
            std::string(79, 'a') + " " + "\xD6\xD0" + blank.substr(2));
  EXPECT_EQ(wrapped("ab\fcd"), "ab" + blank.substr(2) + "\f" + blank.substr(1) + "cd" + blank.substr(2));
  // Form feeds at the very end are dropped (the job ends with one); a line after them is kept.
  EXPECT_EQ(wrapped("a\n\f\n\f"), "a" + blank.substr(1));
  EXPECT_EQ(wrapped("a\n\f\n\n"), "a" + blank.substr(1) + "\f" + blank.substr(1) + blank);
  // A CR ending the text ends its line, as a CR before a line feed does; any
  // other CR is a column of its own.
  EXPECT_EQ(wrapped("x\r"), "x" + blank.substr(1));
  EXPECT_EQ(wrapped("a\rb\r\r\n"), "a\rb\r" + blank.substr(4));
  EXPECT_EQ(linesToRecords("x\r"), "x" + blank.substr(1));
}

// A document read in pieces gives the same bytes, records and faults as read
// whole, wherever the pieces are cut (inside a character, between CR and LF).
TEST(TextInPieces, SameBytesRecordsAndFaultsHoweverSplit) {
  const std::vector<std::string> alphabet = {"a", " ", "\r", "\n", "\r\n", "\f", "\xE4\xB8\xAD" /* 中 */,
                                             "\xEF\xBB\xBF", "\xE2\x82\xAC" /* € */, "\x95", "\xE4\xB8"};
  std::mt19937 rng(7);
  const auto outcome = [](std::string_view text, const std::vector<std::size_t>& cuts, LongLines mode) {
    std::string gb, records;
    try {
      TextDecoder decoder(Encoding::utf8);
      RecordLayout layout(mode);
      std::size_t at = 0;
      for (std::size_t cut : cuts) {
        std::string piece;
        decoder.decode(text.substr(at, cut - at), piece);
        gb += piece;
        layout.add(piece, records);
        at = cut;
      }
      decoder.finish();
      layout.finish(records);
      return records;
    } catch (const InputError& e) {
      return std::to_string(e.line()) + ":" + std::to_string(e.column()) + " " + e.what();
    }
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const std::size_t count = rng() % 120;
    // Mostly well-formed: a fault, when there is one, comes late.
    for (std::size_t i = 0; i < count; ++i) text += alphabet[rng() % (round % 3 == 0 ? alphabet.size() : 7)];
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < text.size();) {
      at = std::min(text.size(), at + rng() % 5);
      cuts.push_back(at);
    }
    cuts.push_back(text.size());
    for (LongLines mode : {LongLines::refuse, LongLines::wrap}) {
      ASSERT_EQ(outcome(text, cuts, mode), outcome(text, {text.size()}, mode)) << "round " << round;
    }
  }
}

TEST(DanglingLeadByte, FindsAFileCutInsideACharacter) {
  EXPECT_EQ(danglingLeadByte("ab\xB0\xA1"), std::string::npos);
  EXPECT_EQ(danglingLeadByte("ab\xB0\xA1\xB0"), 4u);
  EXPECT_EQ(danglingLeadByte("\xB0\xB0"), std::string::npos);  // a lead byte as trail byte
}

}  // namespace
}  // namespace bspp::tools
