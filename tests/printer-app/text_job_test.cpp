// Text documents as the printer application lays them out and composes them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "text_job.h"
#include "text_records.h"

namespace bspp::printer_app {
namespace {

std::string record(const std::string& text, std::size_t columns) { return text + std::string(80 - columns, ' '); }

TEST(TextRecords, LongLinesWrapAtEightyColumnsAndNoCharacterStartsInColumn80) {
  EXPECT_EQ(textToRecords(std::string(85, 'x') + "\n"), std::string(80, 'x') + record("xxxxx", 5));
  EXPECT_EQ(textToRecords("a\r\nb\n\nc"), record("a", 1) + record("b", 1) + record("", 0) + record("c", 1));
  const std::string zhong = "\xD6\xD0";  // two columns wide
  EXPECT_EQ(textToRecords(std::string(79, 'a') + zhong + "b"), std::string(80, 'a').replace(79, 1, " ") +
                                                                   record(zhong + "b", 3));
  EXPECT_EQ(textToRecords(std::string(78, 'a') + zhong), std::string(78, 'a') + zhong);
}

TEST(TextRecords, FormFeedStandsInARecordOfItsOwnAndTrailingOnesAreDropped) {
  EXPECT_EQ(textToRecords("one\ftwo\n"), record("one", 3) + record("\f", 1) + record("two", 3));
  EXPECT_EQ(textToRecords("one\n\f\ntwo"), record("one", 3) + record("\f", 1) + record("two", 3));
  EXPECT_EQ(textToRecords("one\n\f\n\f"), record("one", 3));
}

TEST(TextJob, CharsetsAndCharactersOutsideGb2312) {
  const std::string gb = "\xC4\xE3\xBA\xC3 hello\n";  // 你好 hello
  const std::string stream = composeTextJob("\xE4\xBD\xA0\xE5\xA5\xBD hello\n", Charset::automatic);
  EXPECT_EQ(composeTextJob(gb, Charset::automatic), stream);
  EXPECT_EQ(composeTextJob(gb, Charset::gb2312), stream);
  EXPECT_EQ(stream.back(), '\f');
  EXPECT_THROW(composeTextJob(gb, Charset::utf8), TextJobError);
  EXPECT_THROW(composeTextJob("abc", Charset::unsupported), TextJobError);
  // The refusal names where the text went wrong: a euro sign, a lead byte
  // without a GB2312 trail byte.
  for (const auto& [text, charset, place] :
       {std::tuple{"total\n\xE5\x90\x88\xE8\xAE\xA1 \xE2\x82\xAC" "12\n", Charset::automatic, "line 2, column 4"},
        std::tuple{"ok\nx\xD6\x41", Charset::gb2312, "line 2, column 2"}}) {
    try {
      composeTextJob(text, charset);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const TextJobError& e) {
      EXPECT_NE(std::string(e.what()).find(place), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(charsetOf("text/plain", ""), Charset::automatic);
  EXPECT_EQ(charsetOf("text/plain; charset=\"utf-8\"", "gb2312"), Charset::utf8);
  EXPECT_EQ(charsetOf("text/plain", "gb2312"), Charset::gb2312);
  EXPECT_EQ(charsetOf("text/plain;charset=iso-8859-1", ""), Charset::unsupported);
}

}  // namespace
}  // namespace bspp::printer_app
