// bspp-print as a user runs it: the bytes of a dry run, exit codes and the
// one-line errors, nothing half written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "api/print_job.h"
#include "compose/glyph_surface.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary) << data;
}

std::string example(const char* name) { return std::string(BSPP_EXAMPLES_DIR "/") + name; }

struct Outcome {
  int status;
  std::string out;
  std::string err;
  // Lines the tool wrote to standard error (sanitizer builds add reports
  // of their own there).
  int errLines() const {
    int n = 0;
    for (std::size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
      if (err.compare(at, 11, "bspp-print:") == 0) ++n;
      if (err.find('\n', at) == std::string::npos) break;
    }
    return n;
  }
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/bspp-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path path(const char* name) const { return dir_ / name; }

  // Runs bspp-print with `args` (shell words), standard input from `input`.
  Outcome run(const std::string& args, const std::string& input = "/dev/null") const {
    const std::string cmd = "'" BSPP_PRINT "' " + args + " <" + input + " >'" +
                            path("stdout").string() + "' 2>'" + path("stderr").string() + "'";
    const int raw = std::system(cmd.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(path("stdout")), slurp(path("stderr"))};
  }

  fs::path dir_;
};

std::string composedWithThisPlatform(const std::string& text, bool keepPage) {
  return bspp::composeJob(text, keepPage, *bspp::prepareGlyphSurface());
}

TEST_F(Cli, DryRunWritesExactlyWhatTheLibraryComposes) {
  const std::string text = slurp(example("delivery-note.gb2312"));
  ASSERT_EQ(text.size() % 80, 0u);
  struct Case {
    const char* args;
    std::string text;
    bool keepPage;
  };
  for (const Case& c : {Case{"", text, false}, Case{"--keep-page", text, true},
                        Case{"--nul", text + std::string(1, '\0'), false},
                        Case{"--nul --keep-page", text + std::string(1, '\0'), true}}) {
    const Outcome r = run(std::string(c.args) + " -o '" + path("job.bin").string() + "' " +
                      example("delivery-note.gb2312"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(path("job.bin")), composedWithThisPlatform(c.text, c.keepPage)) << c.args;
  }
  // Standard input and standard output.
  const Outcome r = run("--nul -o - -", example("delivery-note.gb2312"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, composedWithThisPlatform(text + std::string(1, '\0'), false));
}

TEST_F(Cli, TheUtf8SourceOfTheExampleGivesTheSameJob) {
  const Outcome a = run("-o - --utf8 --lines " + example("delivery-note.utf8.txt"));
  const Outcome b = run("-o - " + example("delivery-note.gb2312"));
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_FALSE(a.out.empty());
  EXPECT_EQ(a.out, b.out);
}

TEST_F(Cli, PrintsToAPortAndReportsOneThatIsMissing) {
  spit(path("in.txt"), "HELLO");
  spit(path("lp"), "");
  Outcome r = run("--wait 0 --port '" + path("lp").string() + "' '" + path("in.txt").string() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("lp")), composedWithThisPlatform("HELLO", false));

  r = run("--wait 50 --port '" + path("no-such-lp").string() + "' '" + path("in.txt").string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errLines(), 1);
  EXPECT_NE(r.err.find("no printer port at"), std::string::npos) << r.err;
}

TEST_F(Cli, UsageAndInputErrorsAreStatus2WithOneLine) {
  spit(path("in.txt"), "abc\nxy\xF0\x9F\x98\x80z\n");
  spit(path("old.bin"), "previous");
  struct Case {
    std::string args;
    const char* says;
  };
  for (const Case& c : {
           Case{"--frobnicate x", "unknown option --frobnicate"},
           Case{"", "no input file"},
           Case{"a b", "only one input file"},
           Case{"--wait soon x", "--wait takes a number"},
           Case{"--dump -o - x", "both write to standard output"},
           Case{"--stream x", "--stream needs"},
           Case{"'" + path("missing.txt").string() + "'", "cannot open"},
           Case{"--utf8 -o '" + path("old.bin").string() + "' '" + path("in.txt").string() + "'",
                "in.txt:2:3: character U+1F600"},
           Case{"--lines -o '" + path("old.bin").string() + "' - ", "wider than 80 columns"},
       }) {
    const Outcome r = run(c.args, c.args.find("--lines") != std::string::npos
                                  ? example("delivery-note.gb2312")
                                  : "/dev/null");
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.errLines(), 1) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(slurp(path("old.bin")), "previous");  // untouched by the failed runs
}

TEST_F(Cli, AnOutputThatCannotBeWrittenIsStatus1AndLeavesNoFile) {
  spit(path("in.txt"), "HELLO");
  const Outcome r = run("-o '" + path("nodir/job.bin").string() + "' '" + path("in.txt").string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errLines(), 1);
  EXPECT_FALSE(fs::exists(path("nodir")));
  // Nothing but the input is left in the folder: no temporary file either.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(Cli, AFileCutInsideACharacterPrintsAsTheLibraryDoesWithAWarning) {
  spit(path("cut.txt"), "AB\xB0\xA1\xB0");
  const Outcome r = run("-o - '" + path("cut.txt").string() + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning"), std::string::npos);
  EXPECT_EQ(r.out, composedWithThisPlatform("AB\xB0\xA1\xB0", false));
}

TEST_F(Cli, PreviewWritesOnePngPerPageAndStreamsCanBeListed) {
  // The library sends a form feed inside the text on as it is: two pages.
  spit(path("in.txt"), "PAGE ONE\x0CPAGE TWO");
  Outcome r = run("--preview '" + path("p.png").string() + "' -o '" + path("job.bin").string() +
              "' '" + path("in.txt").string() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("p.png")).substr(1, 3), "PNG");
  EXPECT_TRUE(fs::exists(path("p-2.png")));
  EXPECT_FALSE(fs::exists(path("p-3.png")));

  r = run("--stream --dump '" + path("job.bin").string() + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"PAGE ONE\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("form feed"), std::string::npos);
}

}  // namespace
