#include "stream_dump.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <streambuf>
#include <string>
#include <vector>

#include "compose/escp.h"
#include "escp_stream.h"

namespace bspp::preview {
namespace {

constexpr int kBlockColumns = 10;

std::string hexBytes(std::string_view bytes, std::size_t max = 16) {
  std::string s;
  for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(bytes[i]));
    if (!s.empty()) s += ' ';
    s += buf;
  }
  if (bytes.size() > max) s += " ...";
  return s;
}

std::string quoted(std::string_view text) {
  std::string s = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (b >= 0x20 && b <= 0x7E) {
      s += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      s += buf;
    }
  }
  return s + "\"";
}

// Positions are kept in long long: a stream of a few hundred megabytes
// (--stream takes any file) can move the print position past what an int
// holds.
std::string columnSpan(long long fromDot, long long dots) {
  const long long first = fromDot / kDotsPerColumn;
  const long long last = (fromDot + std::max(dots, 1LL) - 1) / kDotsPerColumn;
  return first == last ? "column " + std::to_string(first)
                       : "columns " + std::to_string(first) + "-" + std::to_string(last);
}

struct Band {
  std::string_view dots;
};

// The 16 dot rows of a band pair (or the 8 of a lone band).
void picture(const std::vector<Band>& bands, long long startDot, std::ostream& out) {
  std::size_t width = 0;
  for (const Band& b : bands) width = std::max(width, b.dots.size());
  const int rows = 8 * static_cast<int>(bands.size());
  auto inked = [&](std::size_t x, int row) {
    const Band& b = bands[static_cast<std::size_t>(row / 8)];
    return x < b.dots.size() &&
           ((unsigned{static_cast<unsigned char>(b.dots[x])} >> (7 - row % 8)) & 1u) != 0;
  };
  const std::size_t block = kBlockColumns * kDotsPerColumn;
  bool any = false;
  for (std::size_t from = 0; from < width; from += block) {
    const std::size_t to = std::min(width, from + block);
    bool ink = false;
    for (std::size_t x = from; x < to && !ink; ++x) {
      for (int r = 0; r < rows && !ink; ++r) ink = inked(x, r);
    }
    if (!ink) continue;
    any = true;
    std::string ruler;
    for (std::size_t x = from; x < to; x += kDotsPerColumn) {
      std::string mark = std::to_string((startDot + static_cast<long long>(x)) / kDotsPerColumn);
      mark.resize(std::min<std::size_t>(kDotsPerColumn, to - x), ' ');
      ruler += mark;
    }
    while (!ruler.empty() && ruler.back() == ' ') ruler.pop_back();
    out << "          column     " << ruler << '\n';
    for (int r = 0; r < rows; r += 2) {
      std::string line;
      for (std::size_t x = from; x < to; ++x) {
        const bool top = inked(x, r);
        const bool bottom = r + 1 < rows && inked(x, r + 1);
        line += top ? (bottom ? ':' : '\'') : (bottom ? '.' : ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out << "                    |" << line << '\n';
    }
  }
  if (!any) out << "                    (no ink)\n";
}

// A feed or spacing in 1/216 inch, written the way the printer is told it.
std::string inches(int units216) {
  return units216 % 3 == 0 ? std::to_string(units216 / 3) + "/72 in"
                           : std::to_string(units216) + "/216 in";
}

// Reads the stream one command at a time and writes each row as it goes;
// it looks at most four commands ahead (a band record).
class Lister {
 public:
  Lister(std::string_view stream, std::ostream& out) : stream_(stream), reader_(stream), out_(out) {}

  void run() {
    out_ << "offset  element      what the printer does\n";
    while (fill(1)) element();
    flushBands();
    out_ << "end     " << stream_.size() << " bytes: " << lines_ << " line end"
         << (lines_ == 1 ? "" : "s") << ", " << bandRecords_ << " band record"
         << (bandRecords_ == 1 ? "" : "s") << ", " << formFeeds_ << " form feed"
         << (formFeeds_ == 1 ? "" : "s") << ", " << problems_ << " problem"
         << (problems_ == 1 ? "" : "s") << '\n';
  }

 private:
  // At least n commands ahead, unless the stream ends first.
  bool fill(std::size_t n) {
    Command c{};
    while (ahead_.size() < n && reader_.next(c)) ahead_.push_back(c);
    return ahead_.size() >= n;
  }
  bool is(std::size_t i, Op op) { return fill(i + 1) && ahead_[i].op == op; }
  void drop(std::size_t n) { ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(n)); }

  void row(std::size_t offset, const char* element, const std::string& what) {
    char head[32];
    std::snprintf(head, sizeof head, "%06zX  %-12s ", offset, element);
    out_ << head << what << '\n';
  }

  void flushBands() {
    if (!bands_.empty()) picture(bands_, bandStart_, out_);
    bands_.clear();
  }

  // True when the command is ESC `command` (80-9F stand for 00-1F).
  bool escape(const Command& c, char command) const {
    return c.length >= 2 && (static_cast<unsigned char>(stream_[c.offset]) & 0x7F) == 0x1B &&
           stream_[c.offset + 1] == command;
  }

  // Lists the element that starts at the first command ahead.
  void element() {
    const Command c = ahead_[0];
    const bool crlf = is(1, Op::CarriageReturn) && is(2, Op::LineFeed);
    if (c.op == Op::LineSpacing && crlf && is(3, Op::Graphics) && escape(ahead_[3], 'L')) {
      const Command g = ahead_[3];
      if (bands_.size() == 2) flushBands();
      if (bands_.empty()) {
        bandStart_ = 0;
        pastLine_ = false;
      }
      ++bandRecords_;
      row(c.offset, bands_.empty() ? "band" : "band (2nd)",
          hexBytes(c.data) + " 0D 0A: feed " + inches(c.value) + "; ESC L k=" +
              std::to_string(g.value) + " (" + hexBytes(stream_.substr(g.offset + 2, 2)) +
              "): dot columns 0-" + std::to_string(g.value - 1) + ", " +
              columnSpan(0, g.value));
      // The printer drops graphics past the print line: what the bands draw
      // there (the right half of a character that starts in column 79) is
      // not printed. Once for the pair, at the first dot column lost.
      if (g.value > kLineDots && !pastLine_) {
        pastLine_ = true;
        ++problems_;
        row(g.offset + 4 + static_cast<std::size_t>(kLineDots), "PAST LINE",
            "dot columns " + std::to_string(kLineDots) + "-" + std::to_string(g.value - 1) + " (" +
                columnSpan(kLineDots, g.value - kLineDots) +
                ") lie past the end of the print line and are not printed: a character in "
                "column 79 loses its right half");
      }
      bands_.push_back(Band{g.data});
      x_ = g.value;
      return drop(4);
    }
    flushBands();
    if (c.op == Op::LineSpacing && escape(c, '2') && crlf) {
      ++lines_;
      row(c.offset, "line end", "1B 32 0D 0A: 1/6-inch spacing, CR, LF");
      x_ = 0;
      return drop(3);
    }
    switch (c.op) {
      case Op::Text: {
        const long long dots = static_cast<long long>(c.data.size()) * kDotsPerColumn;
        row(c.offset, "text",
            quoted(c.data) + "  (" + std::to_string(c.data.size()) + " bytes, " +
                columnSpan(x_, dots) + ")");
        x_ += dots;
        break;
      }
      case Op::CarriageReturn:
        row(c.offset, "CR", hexBytes(c.data) + ": back to the left margin, no feed");
        x_ = 0;
        break;
      case Op::LineFeed:
        row(c.offset, "LF", hexBytes(c.data) + ": feed one line, back to the left margin");
        x_ = 0;
        break;
      case Op::FormFeed:
        ++formFeeds_;
        row(c.offset, "form feed", hexBytes(c.data) + ": end of page " + std::to_string(formFeeds_));
        x_ = 0;
        break;
      case Op::LineSpacing:
        row(c.offset, "spacing", hexBytes(c.data) + ": line spacing " + inches(c.value));
        break;
      case Op::Feed:
        row(c.offset, "feed",
            hexBytes(c.data) + ": " + (c.value < 0 ? "reverse feed " : "feed ") +
                inches(c.value < 0 ? -c.value : c.value) + " now, no carriage return");
        break;
      case Op::Graphics: {
        const int dots = c.value * kDotsPerInch / c.density;
        row(c.offset, "graphics",
            hexBytes(c.data.size() ? stream_.substr(c.offset, c.length - c.data.size()) : c.data) +
                ": " + std::to_string(c.value) + " dot columns at " + std::to_string(c.density) +
                " dpi" + (c.pins == 9 ? ", 9 pins" : "") + " at " + columnSpan(x_, dots));
        bandStart_ = x_;
        if (c.pins == 8 && c.density == kDotsPerInch) bands_.push_back(Band{c.data});
        x_ += dots;
        break;
      }
      case Op::Tab:
        row(c.offset, "tab", hexBytes(c.data) + ": to the next tab stop");
        x_ = (x_ / (8 * kDotsPerColumn) + 1) * 8 * kDotsPerColumn;
        break;
      case Op::VerticalTab:
        row(c.offset, "vertical tab", hexBytes(c.data) + ": to the next vertical tab stop (a line feed when none are set)");
        x_ = 0;
        break;
      case Op::Backspace:
        row(c.offset, "backspace", hexBytes(c.data) + ": one column back");
        x_ = x_ >= kDotsPerColumn ? x_ - kDotsPerColumn : 0;
        break;
      case Op::Setting:
        row(c.offset, "setting", hexBytes(c.data));
        break;
      case Op::Ignored:
        row(c.offset, "ignored", hexBytes(c.data) + ": nothing printed");
        break;
      case Op::Unknown:
        ++problems_;
        row(c.offset, "UNKNOWN", hexBytes(c.data) + ": not a command a 9-pin printer understands");
        x_ += kDotsPerColumn;
        break;
      case Op::Truncated:
        ++problems_;
        row(c.offset, "TRUNCATED",
            hexBytes(c.data) + ": the stream ends inside this command" +
                (c.value > 0 ? " (" + std::to_string(c.value) + " dot columns announced)"
                             : std::string()));
        break;
    }
    drop(1);
  }

  std::string_view stream_;
  StreamReader reader_;
  std::deque<Command> ahead_;
  std::ostream& out_;
  std::vector<Band> bands_;
  long long bandStart_ = 0;
  bool pastLine_ = false;  // the band pair reaches past the print line
  long long x_ = 0;  // dots of 1/120 inch
  std::size_t lines_ = 0;
  std::size_t bandRecords_ = 0;
  std::size_t formFeeds_ = 0;
  std::size_t problems_ = 0;
};

}  // namespace

void dumpStream(std::string_view stream, std::ostream& out) { Lister(stream, out).run(); }

namespace {

// Hands each buffer of the listing straight to the C stream.
class FileBuffer final : public std::streambuf {
 public:
  explicit FileBuffer(std::FILE* f) : f_(f) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(c, f_) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<std::size_t>(n), f_));
  }
  int sync() override { return std::fflush(f_) == 0 ? 0 : -1; }

 private:
  std::FILE* f_;
};

}  // namespace

bool dumpStream(std::string_view stream, std::FILE* out) {
  FileBuffer buffer(out);
  std::ostream os(&buffer);
  dumpStream(stream, os);
  os.flush();
  return os.good() && std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace bspp::preview
