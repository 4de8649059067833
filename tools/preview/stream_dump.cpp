#include "stream_dump.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "escp_render.h"
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

std::string columnSpan(int fromDot, int dots) {
  const int first = fromDot / kColumnDots;
  const int last = (fromDot + std::max(dots, 1) - 1) / kColumnDots;
  return first == last ? "column " + std::to_string(first)
                       : "columns " + std::to_string(first) + "-" + std::to_string(last);
}

struct Band {
  std::string_view dots;
};

// The 16 dot rows of a band pair (or the 8 of a lone band).
void picture(const std::vector<Band>& bands, int startDot, std::ostream& out) {
  std::size_t width = 0;
  for (const Band& b : bands) width = std::max(width, b.dots.size());
  const int rows = 8 * static_cast<int>(bands.size());
  auto inked = [&](std::size_t x, int row) {
    const Band& b = bands[static_cast<std::size_t>(row / 8)];
    return x < b.dots.size() &&
           ((unsigned{static_cast<unsigned char>(b.dots[x])} >> (7 - row % 8)) & 1u) != 0;
  };
  const std::size_t block = kBlockColumns * kColumnDots;
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
    for (std::size_t x = from; x < to; x += kColumnDots) {
      std::string mark = std::to_string((startDot + static_cast<int>(x)) / kColumnDots);
      mark.resize(std::min<std::size_t>(kColumnDots, to - x), ' ');
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

class Lister {
 public:
  Lister(std::string_view stream, std::ostream& out)
      : stream_(stream), cmds_(parseStream(stream)), out_(out) {}

  void run() {
    out_ << "offset  element      what the printer does\n";
    for (std::size_t i = 0; i < cmds_.size();) i = element(i);
    flushBands();
    out_ << "end     " << stream_.size() << " bytes: " << lines_ << " line end"
         << (lines_ == 1 ? "" : "s") << ", " << bandRecords_ << " band record"
         << (bandRecords_ == 1 ? "" : "s") << ", " << formFeeds_ << " form feed"
         << (formFeeds_ == 1 ? "" : "s") << ", " << problems_ << " problem"
         << (problems_ == 1 ? "" : "s") << '\n';
  }

 private:
  bool is(std::size_t i, Op op) const { return i < cmds_.size() && cmds_[i].op == op; }

  void row(std::size_t offset, const char* element, const std::string& what) {
    char head[32];
    std::snprintf(head, sizeof head, "%06zX  %-12s ", offset, element);
    out_ << head << what << '\n';
  }

  void flushBands() {
    if (!bands_.empty()) picture(bands_, bandStart_, out_);
    bands_.clear();
  }

  // Lists the element that starts at command i; returns the next one's index.
  std::size_t element(std::size_t i) {
    const Command& c = cmds_[i];
    const bool crlf = is(i + 1, Op::CarriageReturn) && is(i + 2, Op::LineFeed);
    if (c.op == Op::LineSpacing && crlf && is(i + 3, Op::Graphics)) {
      const Command& g = cmds_[i + 3];
      if (bands_.size() == 2) flushBands();
      if (bands_.empty()) bandStart_ = 0;
      ++bandRecords_;
      row(c.offset, bands_.empty() ? "band" : "band (2nd)",
          hexBytes(c.data) + " 0D 0A: feed " + std::to_string(c.value) + "/72 in; ESC L k=" +
              std::to_string(g.value) + " (" + hexBytes(stream_.substr(g.offset + 2, 2)) +
              "): dot columns 0-" + std::to_string(g.value - 1) + ", " +
              columnSpan(0, g.value));
      bands_.push_back(Band{g.data});
      x_ = g.value;
      return i + 4;
    }
    flushBands();
    if (c.op == Op::LineSpacing && c.value == 12 && c.length == 2 && crlf) {
      ++lines_;
      row(c.offset, "line end", "1B 32 0D 0A: 1/6-inch spacing, CR, LF");
      x_ = 0;
      return i + 3;
    }
    switch (c.op) {
      case Op::Text: {
        const int dots = static_cast<int>(c.data.size()) * kColumnDots;
        row(c.offset, "text",
            quoted(c.data) + "  (" + std::to_string(c.data.size()) + " bytes, " +
                columnSpan(x_, dots) + ")");
        x_ += dots;
        break;
      }
      case Op::CarriageReturn:
        row(c.offset, "CR", "0D: back to the left margin, no feed");
        x_ = 0;
        break;
      case Op::LineFeed:
        row(c.offset, "LF", "0A: feed one line");
        x_ = 0;
        break;
      case Op::FormFeed:
        ++formFeeds_;
        row(c.offset, "form feed", "0C: end of page " + std::to_string(formFeeds_));
        x_ = 0;
        break;
      case Op::LineSpacing:
        row(c.offset, "spacing",
            hexBytes(c.data) + ": line spacing " + std::to_string(c.value) + "/72 in");
        break;
      case Op::Graphics:
        row(c.offset, "graphics",
            "ESC L k=" + std::to_string(c.value) + " at " + columnSpan(x_, c.value));
        bandStart_ = x_;
        bands_.push_back(Band{c.data});
        x_ += c.value;
        break;
      case Op::Unknown:
        ++problems_;
        row(c.offset, "UNKNOWN", hexBytes(c.data) + ": not a command this printer is sent");
        x_ += kColumnDots;
        break;
      case Op::Truncated:
        ++problems_;
        row(c.offset, "TRUNCATED",
            hexBytes(c.data) + ": the stream ends inside this command" +
                (c.value > 0 ? " (ESC L announced " + std::to_string(c.value) + " data bytes, " +
                                   std::to_string(c.data.size() > 4 ? c.data.size() - 4 : 0) +
                                   " present)"
                             : std::string()));
        break;
    }
    return i + 1;
  }

  std::string_view stream_;
  std::vector<Command> cmds_;
  std::ostream& out_;
  std::vector<Band> bands_;
  int bandStart_ = 0;
  int x_ = 0;
  int lines_ = 0;
  int bandRecords_ = 0;
  int formFeeds_ = 0;
  int problems_ = 0;
};

}  // namespace

void dumpStream(std::string_view stream, std::ostream& out) { Lister(stream, out).run(); }

}  // namespace bspp::preview
