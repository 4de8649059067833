// The text layout: 80-column lines, trimming, and how a job closes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compose/line_composer.h"
#include "test_support.h"

namespace bspp {
namespace {

using test::bytes;
using test::kLT;

std::string composed(const std::string& text, bool keepPage, BandWriter* bands = nullptr) {
  return compose(text, keepPage, bands);
}

// Records what the composer hands to the band writer, and marks the stream
// where the bands would go.
struct RecordingBands final : BandWriter {
  struct Call {
    std::string bytes;
    std::vector<int> columns;
  };
  std::vector<Call> calls;
  void appendBands(const LineGlyphs& glyphs, std::string& stream) override {
    Call call{glyphs.bytes, {}};
    for (std::size_t i = 0; i < glyphs.count(); ++i) call.columns.push_back(glyphs.columns[i]);
    calls.push_back(call);
    stream += "<bands>";
  }
};

TEST(ComposerClosing, PartialLastLineIsCutByOneByteAndFormFed) {
  EXPECT_EQ(composed(bytes("HELLO\0"), false), "HELLO" + kLT + "\x0C");
  EXPECT_EQ(composed(bytes("HELLO\0"), true), bytes("HELLO\0") + kLT);
  EXPECT_EQ(composed("HELLO", false), "HELL" + kLT + "\x0C");
  EXPECT_EQ(composed("HELLO", true), "HELLO" + kLT);
  EXPECT_EQ(composed("H", false), kLT + "\x0C");
}

TEST(ComposerClosing, EmptyTextAndFullLastLineEndWithoutFormFeed) {
  EXPECT_EQ(composed("", false), "");
  EXPECT_EQ(composed("", true), "");
  const std::string full(80, 'x');
  EXPECT_EQ(composed(full, false), full + kLT);
  EXPECT_EQ(composed(full + full, false), full + kLT + full + kLT);
}

TEST(ComposerClosing, TrailingNulAfterFullLineFormsItsOwnLastLine) {
  const std::string full(80, 'x');
  EXPECT_EQ(composed(full + '\0', false), full + kLT + kLT + "\x0C");
  EXPECT_EQ(composed(full + '\0', true), full + kLT + '\0' + kLT);
}

TEST(ComposerClosing, BlankLastLineIsTrimmedBeforeTheCut) {
  EXPECT_EQ(composed("AB   ", false), "A" + kLT + "\x0C");
  EXPECT_EQ(composed("AB   ", true), "AB" + kLT);
  EXPECT_EQ(composed("     ", false), kLT + "\x0C");
  EXPECT_EQ(composed("     ", true), kLT);
}

TEST(ComposerLines, OnlyTheBlankIsTrimmed) {
  EXPECT_EQ(composed(std::string(80, ' '), true), kLT);
  std::string tab = "A\t" + std::string(78, ' ');
  EXPECT_EQ(composed(tab, true), "A\t" + kLT);
  std::string nul = bytes("A\0") + std::string(78, ' ');
  EXPECT_EQ(composed(nul, true), bytes("A\0") + kLT);
  std::string inner = "A  B" + std::string(76, ' ');
  EXPECT_EQ(composed(inner, true), "A  B" + kLT);
}

TEST(ComposerLines, ControlBytesAreOrdinaryColumns) {
  // CR LF, FF and bytes 0x80-0x9F each take one column and pass unchanged.
  std::string text = "AB\r\n\x0C";
  for (int b = 0x80; b <= 0x9F; ++b) text.push_back(static_cast<char>(b));
  text.resize(80, 'z');
  text += "NEXT";
  EXPECT_EQ(composed(text, true), text.substr(0, 80) + kLT + "NEXT" + kLT);
}

TEST(ComposerLines, DoubleByteCharacterTakesTwoBlankColumns) {
  RecordingBands bands;
  std::string text = "AB\xB0\xA1" "C";
  text.resize(80, ' ');
  EXPECT_EQ(composed(text, true, &bands), "<bands>AB  C" + kLT);
  ASSERT_EQ(bands.calls.size(), 1u);
  EXPECT_EQ(bands.calls[0].bytes, "\xB0\xA1");
  EXPECT_EQ(bands.calls[0].columns, std::vector<int>{2});
}

TEST(ComposerLines, CharacterStartingInColumn79MakesAn81ColumnLine) {
  RecordingBands bands;
  const std::string text = std::string(79, 'a') + "\xC4\xE3" + "b";
  EXPECT_EQ(composed(text, true, &bands),
            "<bands>" + std::string(79, 'a') + kLT + "b" + kLT);
  ASSERT_EQ(bands.calls.size(), 1u);
  EXPECT_EQ(bands.calls[0].columns, std::vector<int>{79});
}

TEST(ComposerLines, FortyCharactersFillALineAndTheirBlanksAreTrimmed) {
  RecordingBands bands;
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xD6\xD0";
  EXPECT_EQ(composed(text + "x", true, &bands), "<bands>" + kLT + "x" + kLT);
  ASSERT_EQ(bands.calls.size(), 1u);
  ASSERT_EQ(bands.calls[0].columns.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(bands.calls[0].columns[static_cast<std::size_t>(i)], 2 * i);
}

TEST(ComposerLines, AnyByteAfterALeadIsItsTrail) {
  RecordingBands bands;
  // The trail bytes are a blank, a NUL and another lead byte.
  const std::string text = bytes("\xB0 \xB1\0\xFF\xFF");
  composed(text, true, &bands);
  ASSERT_EQ(bands.calls.size(), 1u);
  EXPECT_EQ(bands.calls[0].bytes, text);
  EXPECT_EQ(bands.calls[0].columns, (std::vector<int>{0, 2, 4}));
}

TEST(ComposerLines, LeadByteAtTheEndIsPairedWithNul) {
  RecordingBands bands;
  EXPECT_EQ(composed("A\xB0", true, &bands), "<bands>A" + kLT);
  ASSERT_EQ(bands.calls.size(), 1u);
  EXPECT_EQ(bands.calls[0].bytes, bytes("\xB0\0"));
  EXPECT_EQ(bands.calls[0].columns, std::vector<int>{1});
}

TEST(ComposerLines, LinesWithoutDoubleByteCharactersNeverCallTheBands) {
  RecordingBands bands;
  std::string text(80, 'a');
  text += "\xB0\xA1";
  text += std::string(78, 'b');
  text += "tail";
  const std::string stream = composed(text, false, &bands);
  EXPECT_EQ(bands.calls.size(), 1u);
  EXPECT_EQ(stream, std::string(80, 'a') + kLT + "<bands>  " + std::string(78, 'b') + kLT +
                        "tai" + kLT + "\x0C");
}

// An independent statement of the layout: split the text into characters,
// then into lines by columns, then print each line.
std::string modelStream(const std::string& text, bool keepPage) {
  struct Char {
    std::string shown;  // what goes into the line text
    int width;
  };
  std::vector<Char> chars;
  for (std::size_t j = 0; j < text.size(); ++j) {
    if (static_cast<unsigned char>(text[j]) >= 0xA0) {
      ++j;
      chars.push_back({"  ", 2});
    } else {
      chars.push_back({std::string(1, text[j]), 1});
    }
  }
  std::vector<std::string> lines(1);
  int used = 0;
  for (const Char& c : chars) {
    lines.back() += c.shown;
    used += c.width;
    if (used >= 80) {
      lines.emplace_back();
      used = 0;
    }
  }
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    const bool last = i + 1 == lines.size();
    if (last && used == 0) break;
    line.erase(line.find_last_not_of(' ') + 1);
    if (last && !keepPage && !line.empty()) line.pop_back();
    out += line + kLT;
    if (last && !keepPage) out += '\x0C';
  }
  return out;
}

TEST(ComposerModel, EveryByteValueAndRandomTextsMatchTheModel) {
  for (int b = 0; b < 256; ++b) {
    for (std::size_t length : {1u, 79u, 80u, 81u, 161u}) {
      const std::string text(length, static_cast<char>(b));
      for (bool keep : {false, true}) {
        ASSERT_EQ(composed(text, keep), modelStream(text, keep)) << "byte " << b << " x" << length;
      }
    }
  }
  std::mt19937 rng(12345);
  const std::string alphabet = bytes(" \0\t\r\nAz\x80\x9F\xA0\xB0\xFF");
  for (int round = 0; round < 2000; ++round) {
    std::string text(rng() % 400, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    for (bool keep : {false, true}) {
      ASSERT_EQ(composed(text, keep), modelStream(text, keep)) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace bspp
