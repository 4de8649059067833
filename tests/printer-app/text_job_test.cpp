// Text documents as the printer application lays them out and composes them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "text_input.h"
#include "text_job.h"
#include "text_records.h"

namespace bspp::printer_app {
namespace {

std::string blanks(std::size_t n) { return std::string(n, ' '); }
std::string record(const std::string& text, std::size_t columns) {
  return text + blanks(80 - columns);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

TEST(TextRecords, LinesThatFitAreLaidOutAsBsppPrintLaysThemOut) {
  const std::string gb = tools::utf8ToGb2312(readFile(BSPP_EXAMPLES_DIR "/delivery-note.utf8.txt"));
  EXPECT_EQ(textToRecords(gb), tools::linesToRecords(gb));
  EXPECT_EQ(textToRecords("a\r\nb\n\nc"), record("a", 1) + record("b", 1) + blanks(80) + record("c", 1));
}

TEST(TextRecords, LongLinesWrapAtEightyColumns) {
  const std::string line(85, 'x');
  EXPECT_EQ(textToRecords(line + "\n"), std::string(80, 'x') + record("xxxxx", 5));
  EXPECT_EQ(textToRecords(std::string(160, 'y')), std::string(160, 'y'));

  // A Chinese character never starts in column 79: it opens the next record.
  const std::string zhong = "\xD6\xD0";
  EXPECT_EQ(textToRecords(std::string(79, 'a') + zhong + "b"),
            std::string(79, 'a') + " " + record(zhong + "b", 3));
  EXPECT_EQ(textToRecords(std::string(78, 'a') + zhong), std::string(78, 'a') + zhong);
}

TEST(TextRecords, FormFeedStandsInARecordOfItsOwn) {
  EXPECT_EQ(textToRecords("one\ftwo\n"), record("one", 3) + record("\f", 1) + record("two", 3));
  EXPECT_EQ(textToRecords("one\n\f\ntwo"), record("one", 3) + record("\f", 1) + record("two", 3));
  // The job ends with a form feed anyway: trailing ones would eject blank paper.
  EXPECT_EQ(textToRecords("one\n\f\n\f"), record("one", 3));
  EXPECT_EQ(textToRecords("\f"), "");
}

TEST(TextJob, RefusesWhatTheLibraryCannotPrintNamingLineAndColumn) {
  try {
    composeTextJob("total\n\xE5\x90\x88\xE8\xAE\xA1 \xE2\x82\xAC" "12\n", Charset::automatic);
    FAIL() << "the euro sign was accepted";
  } catch (const TextJobError& e) {
    EXPECT_NE(std::string(e.what()).find("line 2, column 4"), std::string::npos) << e.what();
  }
  // GB2312 bytes: a lead byte without a GB2312 trail byte.
  EXPECT_THROW(
      {
        try {
          composeTextJob("ok\nx\xD6\x41", Charset::gb2312);
        } catch (const TextJobError& e) {
          EXPECT_NE(std::string(e.what()).find("line 2, column 2"), std::string::npos) << e.what();
          throw;
        }
      },
      TextJobError);
  EXPECT_THROW(composeTextJob("abc", Charset::unsupported), TextJobError);
}

TEST(TextJob, Gb2312TextWithoutADeclaredCharsetPrintsAsItsUtf8Twin) {
  const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD hello\n";  // 你好 hello
  const std::string gb = "\xC4\xE3\xBA\xC3 hello\n";
  const std::string stream = composeTextJob(utf8, Charset::automatic);
  EXPECT_EQ(composeTextJob(gb, Charset::automatic), stream);
  EXPECT_EQ(composeTextJob(gb, Charset::gb2312), stream);
  EXPECT_THROW(composeTextJob(gb, Charset::utf8), TextJobError);
  // Every job ends with a form feed.
  ASSERT_FALSE(stream.empty());
  EXPECT_EQ(stream.back(), '\f');
}

TEST(TextJob, CharsetFromFormatOrDocumentCharset) {
  EXPECT_EQ(charsetOf("text/plain", ""), Charset::automatic);
  EXPECT_EQ(charsetOf("text/plain;charset=GB2312", ""), Charset::gb2312);
  EXPECT_EQ(charsetOf("text/plain; charset=\"utf-8\"", "gb2312"), Charset::utf8);
  EXPECT_EQ(charsetOf("text/plain", "gb2312"), Charset::gb2312);
  EXPECT_EQ(charsetOf("text/plain;charset=iso-8859-1", ""), Charset::unsupported);
}

}  // namespace
}  // namespace bspp::printer_app
