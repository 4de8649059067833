// bspp-print as a user runs it: the bytes of a dry run, exit codes and the
// one-line errors, nothing half written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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
  // `wrapper` is a command that runs another (as someone else, say).
  Outcome run(const std::string& args, const std::string& input = "/dev/null",
              const std::string& wrapper = "") const {
    const std::string cmd = wrapper + "'" BSPP_PRINT "' " + args + " <" + input + " >'" +
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
  const std::string withNul = text + std::string(1, '\0');
  for (const Case& c : {Case{"--exact", text, false}, Case{"--exact --keep-page", text, true},
                        Case{"", withNul, false}, Case{"--keep-page", withNul, true},
                        Case{"--nul", withNul, false}}) {
    const Outcome r = run(std::string(c.args) + " -o '" + path("job.bin").string() + "' " +
                      example("delivery-note.gb2312"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(path("job.bin")), composedWithThisPlatform(c.text, c.keepPage)) << c.args;
  }
  // Standard input and standard output.
  const Outcome r = run("-o - -", example("delivery-note.gb2312"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, composedWithThisPlatform(withNul, false));
}

TEST_F(Cli, ByDefaultTheLastVisibleCharacterIsPrintedAndThePageEjected) {
  // 合计 100元: the last character is a Chinese one, the byte before it a digit.
  const std::string total = "\xBA\xCF\xBC\xC6 100\xD4\xAA";
  spit(path("total.txt"), total);
  spit(path("hello.txt"), "HELLO");
  spit(path("nul.txt"), std::string("HELLO\0", 6));
  const auto out = [&](const std::string& args, const char* file) {
    return run(args + " -o - '" + path(file).string() + "'").out;
  };
  EXPECT_EQ(out("", "hello.txt"), "HELLO\x1B\x32\r\n\x0C");
  EXPECT_EQ(out("--exact", "hello.txt"), "HELL\x1B\x32\r\n\x0C");  // what --exact asks for: the O is cut
  EXPECT_EQ(out("", "nul.txt"), "HELLO\x1B\x32\r\n\x0C");          // no second NUL
  const std::string t = out("", "total.txt");
  EXPECT_EQ(t, composedWithThisPlatform(total + '\0', false));
  // 100 whole, and 元's two blank columns are sent: the cut NUL stopped the trim.
  EXPECT_EQ(t.substr(t.size() - 16), "\r     100  \x1B\x32\r\n\x0C");
  EXPECT_NE(run("--exact --nul x").err.find("--exact"), std::string::npos);
}

TEST_F(Cli, TheUtf8SourceOfTheExampleGivesTheSameJob) {
  const Outcome a = run("-o - --utf8 --lines " + example("delivery-note.utf8.txt"));
  const Outcome b = run("-o - " + example("delivery-note.gb2312"));
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_FALSE(a.out.empty());
  EXPECT_EQ(a.out, b.out);
}

TEST_F(Cli, PrintsToAPortAndNamesWhatIsWrongWithOne) {
  spit(path("in.txt"), "HELLO");
  spit(path("lp"), "");
  const std::string in = " '" + path("in.txt").string() + "'";
  // --wait forever returns as soon as the file took it all.
  for (const char* wait : {"0", "forever"}) {
    ASSERT_EQ(run(std::string("--wait ") + wait + " --port '" + path("lp").string() + "'" + in).status, 0);
    EXPECT_EQ(slurp(path("lp")), composedWithThisPlatform(std::string("HELLO\0", 6), false)) << wait;
    spit(path("lp"), "");
  }
  // Root may write anything: the tool runs as nobody then, on a port that
  // only root and the lp group may write.
  const bool root = ::geteuid() == 0;
  const group* lp = ::getgrnam("lp");
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(path("lp").c_str(), root ? 0660 : 0440), 0);
  ASSERT_TRUE(!root || (lp && ::chown(path("lp").c_str(), 0, lp->gr_gid) == 0));
  // A FIFO whose reader takes nothing: the port takes one pipe buffer.
  ASSERT_EQ(::mkfifo(path("slow").c_str(), 0600), 0);
  const int reader = ::open(path("slow").c_str(), O_RDONLY | O_NONBLOCK);
  const int buffer = ::fcntl(reader, F_SETPIPE_SZ, 4096);
  ASSERT_GT(buffer, 0);
  const std::string note = example("delivery-note.gb2312");
  const std::size_t job = composedWithThisPlatform(slurp(note) + '\0', false).size();
  struct Case {
    std::string args, says, wrapper;
  };
  // The whole line, as the README shows it; only a slow printer is helped
  // by a longer --wait.
  for (const Case& c : {
           Case{"--wait 50 --port '" + path("no-such-lp").string() + "'" + in,
                "no printer port " + path("no-such-lp").string() + "; the job was not printed",
                ""},
           Case{"--wait 50 --port '" + path("lp").string() + "'" + in,
                "permission denied on " + path("lp").string() +
                    (root ? " (is the user in the lp group?)" : "") + "; the job was not printed",
                root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""},
           Case{"--wait 300 --port '" + path("slow").string() + "' " + note,
                "the printer took " + std::to_string(buffer) + " of " + std::to_string(job) +
                    " bytes in 300 ms (busy, offline or slower than the wait; --wait gives it "
                    "longer)",
                ""}}) {
    const Outcome r = run(c.args, "/dev/null", c.wrapper);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), 1) << r.err;
    EXPECT_NE(r.err.find("bspp-print: " + c.says + "\n"), std::string::npos) << r.err;
  }
  ::close(reader);
  EXPECT_EQ(slurp(path("lp")), "");
}

TEST_F(Cli, WithoutAChineseFontNothingIsPrintedOrWritten) {
  spit(path("fonts.conf"), "<fontconfig><cachedir>" + path("cache").string() + "</cachedir></fontconfig>");
  spit(path("total.txt"), "\xBA\xCF\xBC\xC6 100\xD4\xAA");
  spit(path("lp"), "");
  const std::string env = "env FONTCONFIG_FILE='" + path("fonts.conf").string() + "' ";  // knows no fonts
  for (const std::string& to :
       {"-o '" + path("job.bin").string() + "'", "--port '" + path("lp").string() + "'"}) {
    const Outcome r = run(to + " '" + path("total.txt").string() + "'", "/dev/null", env);
    EXPECT_EQ(r.status, 1) << to;
    EXPECT_EQ(r.errLines(), 1) << r.err;
    EXPECT_NE(r.err.find("bspp-print: no Chinese font installed: the job's Chinese characters "
                         "cannot be drawn (Debian: apt-get install xfonts-wqy); nothing printed\n"),
              std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(fs::exists(path("job.bin")));
  EXPECT_EQ(slurp(path("lp")), "");
  EXPECT_EQ(run("-o - '" + path("lp").string() + "'", "/dev/null", env).status, 0);  // ASCII needs none
}

TEST_F(Cli, DevicesFifosAndLinksAsOutputs) {
  spit(path("in.txt"), "PAGE ONE\x0CPAGE TWO");
  const std::string in = " '" + path("in.txt").string() + "'";
  const std::string job = composedWithThisPlatform(std::string("PAGE ONE\x0CPAGE TWO\0", 18), false);
  // A device node stays a device node, also for a preview of two pages.
  EXPECT_EQ(run("-o /dev/null --preview /dev/null" + in).status, 0);
  EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);
  EXPECT_FALSE(fs::exists("/dev/null-2"));
  // A FIFO is written into, not replaced; both pages of a preview reach its reader.
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  const auto throughFifo = [&](const std::string& args) {
    std::string got;
    std::thread reader([&] { got = slurp(path("fifo")); });
    EXPECT_EQ(run(args + " '" + path("fifo").string() + "'" + in).status, 0) << args;
    reader.join();
    return got;
  };
  EXPECT_EQ(throughFifo("-o"), job);
  const std::string pictures = throughFifo("--preview");
  EXPECT_NE(pictures.find("\x89PNG", pictures.find("\x89PNG") + 1), std::string::npos);
  EXPECT_TRUE(fs::is_fifo(path("fifo")));
  // A link stays a link; the file it leads to is replaced, keeping its mode,
  // or made if it is not there yet.
  spit(path("target.bin"), "old");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path("target.bin"), mode);
  fs::create_symlink("target.bin", path("link.bin"));
  fs::create_symlink("new.bin", path("dangling.bin"));
  for (const char* link : {"link.bin", "dangling.bin"}) {
    EXPECT_EQ(run("-o '" + path(link).string() + "'" + in).status, 0);
    EXPECT_TRUE(fs::is_symlink(path(link)));
  }
  EXPECT_EQ(slurp(path("target.bin")) + slurp(path("new.bin")), job + job);
  EXPECT_EQ(fs::status(path("target.bin")).permissions(), mode);
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
  Outcome r = run("--exact -o - '" + path("cut.txt").string() + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning"), std::string::npos);
  EXPECT_EQ(r.out, composedWithThisPlatform("AB\xB0\xA1\xB0", false));
  // By default the lead byte gets its NUL, and one more NUL is what is cut.
  r = run("-o - '" + path("cut.txt").string() + "'");
  EXPECT_NE(r.err.find("warning"), std::string::npos);
  EXPECT_EQ(r.out, composedWithThisPlatform(std::string("AB\xB0\xA1\xB0\0\0", 7), false));
  EXPECT_EQ(r.out.substr(r.out.size() - 11), "AB    \x1B\x32\r\n\x0C");
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
  // Past --max-pages: a clear error and no picture at all.
  r = run("--stream --max-pages 1 --preview '" + path("q.png").string() + "' '" +
          path("job.bin").string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("more than 1 pages"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("q.png")));
}

}  // namespace
