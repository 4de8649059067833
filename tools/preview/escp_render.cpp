#include "escp_render.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "dot_font.h"
#include "escp_stream.h"

namespace bspp::preview {

namespace {

constexpr std::array<Paper, 4> kPapers{{
    {"11in", 3060, 3960},    // continuous forms 8.5 x 11 in
    {"12in", 3060, 4320},    // continuous forms 8.5 x 12 in
    {"a4", 2976, 4209},      // 210 x 297 mm
    {"letter", 3060, 3960},  // 8.5 x 11 in cut sheet
}};

// Positions: horizontally in 1/720 inch from column 0 of the print line,
// vertically in 1/1080 inch from the top of the first page. Both divide every
// step the printer takes (1/60 to 1/240 inch across, 1/72 and 1/216 down).
constexpr int kXPerInch = 720;
constexpr int kYPerInch = 1080;
constexpr int kXPerPixel = kXPerInch / kPixelsPerInch;  // 2
constexpr int kYPerPixel = kYPerInch / kPixelsPerInch;  // 3
constexpr int kYPerPin = kYPerInch / kPinRowsPerInch;   // 15
constexpr int kYPer216 = kYPerInch / 216;               // 5
constexpr int kPrintLine = kLineDots * (kXPerInch / kDotsPerInch);  // 8 inches
constexpr int kLeftEdgePixels = kLeftMarginDots * kPixelsPerDot;    // 1/4 inch
constexpr int kDefaultTab = 8;  // columns between power-on tab stops

std::string hexOffset(std::size_t offset) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "offset %zu (0x%zX)", offset, offset);
  return buf;
}

std::string hexList(std::string_view bytes) {
  std::string s;
  for (char ch : bytes) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", static_cast<unsigned char>(ch));
    s += buf;
  }
  return s;
}

class Printer {
 public:
  // draw = false only counts pages: no page buffer, no pixels.
  Printer(const RenderOptions& options, const PageSink* sink, bool draw)
      : options_(options), sink_(sink), draw_(draw) {
    formLength_ = pageLength();
    reset();
    if (draw_) {
      page_.width = options_.paper.width;
      page_.height = options_.paper.height;
      page_.pixels.assign(static_cast<std::size_t>(page_.width) * static_cast<std::size_t>(page_.height),
                          kPaper);
    }
  }

  RenderSummary run(std::string_view stream) {
    StreamReader reader(stream);
    Command c{};
    while (!stopped_ && reader.next(c)) {
      execute(c);
    }
    // A form feed at the very end leaves an untouched page: not printed.
    if (!stopped_ && (drawn_ || summary_.pages == 0)) emitPage();
    return std::move(summary_);
  }

  bool overLimit() const { return summary_.tooManyPages; }

 private:
  long long pageLength() const { return static_cast<long long>(options_.paper.height) * kYPerPixel; }

  void reset() {
    spacing_ = 36 * kYPer216;
    elite_ = condensed_ = doubleWidth_ = doubleLine_ = false;
    leftMargin_ = 0;
    rightMargin_ = kPrintLine;
    tabs_.clear();
    for (int n = 1; n * kDefaultTab * 72 < kPrintLine; ++n) tabs_.push_back(n * kDefaultTab * 72);
    verticalTabs_.clear();
    verticalTabsSet_ = false;
  }

  int charWidth() const {
    const int base = condensed_ ? (elite_ ? 36 : 42) : (elite_ ? 60 : 72);
    return (doubleWidth_ || doubleLine_) ? 2 * base : base;
  }

  void problem(std::size_t offset, std::string message) {
    ++summary_.problemCount;
    if (summary_.problems.size() < kProblemsKept) summary_.problems.push_back({offset, std::move(message)});
  }

  void execute(const Command& c) {
    switch (c.op) {
      case Op::Text:
        for (char ch : c.data) printChar(static_cast<unsigned char>(ch));
        break;
      case Op::CarriageReturn: x_ = leftMargin_; break;
      case Op::LineFeed: lineFeed(spacing_); break;
      case Op::FormFeed: formFeed(); break;
      case Op::LineSpacing: spacing_ = c.value * kYPer216; break;
      case Op::Feed: feed(static_cast<long long>(c.value) * kYPer216); break;
      case Op::Graphics: graphics(c); break;
      case Op::Tab: {
        const auto stop = std::upper_bound(tabs_.begin(), tabs_.end(), x_ - leftMargin_);
        if (stop != tabs_.end() && leftMargin_ + *stop < rightMargin_) x_ = leftMargin_ + *stop;
        break;
      }
      case Op::VerticalTab: verticalTab(); break;
      case Op::Backspace:
        if (x_ - charWidth() >= leftMargin_) x_ -= charWidth();
        break;
      case Op::Setting: setting(c.data); break;
      case Op::Ignored: break;
      case Op::Unknown:
        marker();
        if (draw_) {
          problem(c.offset, "unknown byte" + std::string(c.data.size() > 1 ? "s " : " ") +
                                hexList(c.data) + " at " + hexOffset(c.offset) +
                                ", drawn as a red box");
        }
        break;
      case Op::Truncated:
        if (draw_) {
          problem(c.offset, "truncated command at " + hexOffset(c.offset) +
                                ": the stream ends inside it");
        }
        break;
    }
  }

  void setting(std::string_view d) {
    const auto b = [&d](std::size_t i) { return i < d.size() ? int{static_cast<unsigned char>(d[i])} : 0; };
    const int first = b(0) & 0x7F;
    const int command = first == 0x1B ? b(1) : first;
    switch (command) {
      case 0x0E: doubleLine_ = true; break;                     // SO, ESC SO
      case 0x14: doubleLine_ = false; break;                    // DC4
      case 0x0F: condensed_ = true; break;                      // SI, ESC SI
      case 0x12: condensed_ = false; break;                     // DC2
      case 'W': doubleWidth_ = (b(2) & 1) != 0; break;          // 0/1 or "0"/"1"
      case 'M': elite_ = true; break;
      case 'P': elite_ = false; break;
      case '!':
        elite_ = (b(2) & 0x01) != 0;
        condensed_ = (b(2) & 0x04) != 0;
        doubleWidth_ = (b(2) & 0x20) != 0;
        break;
      case 'l': leftMargin_ = std::max(0, std::min(b(2) * charWidth(), rightMargin_ - charWidth())); break;
      case 'Q':
        if (b(2) > 0) rightMargin_ = std::clamp(b(2) * charWidth(), leftMargin_ + charWidth(), kPrintLine);
        break;
      case '$': {  // absolute position, 1/60 inch from the left margin
        const int x = leftMargin_ + (b(2) + 256 * b(3)) * 12;
        if (x < rightMargin_) x_ = x;
        break;
      }
      case '\\': {  // relative position, 1/120 inch, signed
        const int n = static_cast<std::int16_t>(b(2) + 256 * b(3));
        const long long x = x_ + n * 6;
        if (x >= leftMargin_ && x < rightMargin_) x_ = x;
        break;
      }
      case 'f':  // skip n columns (m = 0) or n lines (m = 1)
        if (b(2) == 0 || b(2) == '0') {
          x_ = std::min<long long>(x_ + b(3) * charWidth(), rightMargin_);
        } else {
          for (int i = 0; i < b(3); ++i) lineFeed(spacing_);
        }
        break;
      case 'D':  // tab stops in columns of the current pitch, ascending
        tabs_.clear();
        for (std::size_t i = 2; i < d.size() && b(i) != 0; ++i) {
          const int stop = b(i) * charWidth();
          if (!tabs_.empty() && stop <= tabs_.back()) break;
          tabs_.push_back(stop);
        }
        break;
      case 'B':  // vertical tab stops in lines of the current spacing
        verticalTabs_.clear();
        verticalTabsSet_ = true;
        for (std::size_t i = 2; i < d.size() && b(i) != 0; ++i) {
          const long long stop = static_cast<long long>(b(i)) * spacing_;
          if (!verticalTabs_.empty() && stop <= verticalTabs_.back()) break;
          verticalTabs_.push_back(stop);
        }
        break;
      case 'C':  // page length in lines, or in inches after NUL; the current
                 // line becomes the top of form
        if (b(2) != 0 && spacing_ > 0) {
          formLength_ = static_cast<long long>(b(2)) * spacing_;
        } else if (b(2) == 0 && b(3) != 0) {
          formLength_ = static_cast<long long>(b(3)) * kYPerInch;
        }
        top_ = y_;
        break;
      case '@': reset(); x_ = leftMargin_; break;
      default: break;
    }
  }

  // Pages between the current one and the position y are finished.
  void moveTo(long long y) {
    y_ = std::max(y, pageTop());
    while (!stopped_ && y_ >= pageTop() + pageLength()) emitPage();
  }

  long long pageTop() const { return static_cast<long long>(pageIndex_) * pageLength(); }

  void emitPage() {
    ++summary_.pages;
    if (summary_.pages > options_.maxPages) {
      summary_.tooManyPages = true;
      stopped_ = true;
      return;
    }
    if (draw_ && sink_ && !(*sink_)(page_, summary_.pages)) stopped_ = true;
    if (draw_ && dirtyEnd_ > dirtyBegin_) {
      const auto width = static_cast<std::size_t>(page_.width);
      std::fill(page_.pixels.begin() + static_cast<std::ptrdiff_t>(dirtyBegin_ * width),
                page_.pixels.begin() + static_cast<std::ptrdiff_t>(dirtyEnd_ * width), kPaper);
    }
    dirtyBegin_ = static_cast<std::size_t>(page_.height);
    dirtyEnd_ = 0;
    drawn_ = false;
    ++pageIndex_;
  }

  void feed(long long amount) {
    if (amount >= 0) {
      while (y_ + amount >= top_ + formLength_) top_ += formLength_;
    }
    moveTo(y_ + amount);
  }

  void lineFeed(long long amount) {
    x_ = leftMargin_;
    doubleLine_ = false;
    feed(amount);
  }

  void formFeed() {
    x_ = leftMargin_;
    doubleLine_ = false;
    top_ += formLength_;
    moveTo(top_);
  }

  void verticalTab() {
    if (!verticalTabsSet_) return lineFeed(spacing_);
    x_ = leftMargin_;
    doubleLine_ = false;
    for (long long stop : verticalTabs_) {
      if (stop < formLength_ && top_ + stop > y_) return moveTo(top_ + stop);
    }
    if (!verticalTabs_.empty()) formFeed();  // no stop below: next form
  }

  // One pixel of the page, inside it; the rows drawn on are cleared for the
  // next page.
  void put(int px, int py, Ink ink) {
    const auto row = static_cast<std::size_t>(py);
    page_.pixels[row * static_cast<std::size_t>(page_.width) + static_cast<std::size_t>(px)] = ink;
    dirtyBegin_ = std::min(dirtyBegin_, row);
    dirtyEnd_ = std::max(dirtyEnd_, row + 1);
  }

  // One pin mark: a disc 5 pixels across centred on the dot.
  void pin(long long x, long long y) {
    drawn_ = true;
    if (!draw_) return;
    const long long cx = kLeftEdgePixels + x / kXPerPixel + 1;
    const long long cyPage = (y - pageTop()) / kYPerPixel + 2;
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        if (dx * dx + dy * dy > 6) continue;
        const long long px = cx + dx;
        const long long py = cyPage + dy;
        if (px < 0 || py < 0 || px >= page_.width || py >= page_.height) continue;
        put(static_cast<int>(px), static_cast<int>(py), kInk);
      }
    }
  }

  // Text past the right margin goes on to the next line.
  void wrapIfFull() {
    if (x_ + charWidth() > rightMargin_) lineFeed(spacing_);
  }

  void printChar(unsigned char c) {
    wrapIfFull();
    const int width = charWidth();
    const bool italic = c >= 0x80;
    const auto& rows = glyphRows(static_cast<unsigned char>(c & 0x7F));
    for (int r = 0; r < kGlyphPins; ++r) {
      // Italics lean right: half a dot for every two pin rows above the base.
      const int slant = italic ? std::max(0, 7 - r) * 3 / 2 : 0;
      for (int col = 0; col < kGlyphColumns; ++col) {
        if ((unsigned{rows[static_cast<std::size_t>(r)]} >> (kGlyphColumns - 1 - col)) & 1u) {
          const long long x = x_ + width * (1 + 2 * col) / 12 + slant;
          pin(x, y_ + r * kYPerPin);
          if (width >= 120) pin(x + width / 24, y_ + r * kYPerPin);  // double width
        }
      }
    }
    x_ += width;
  }

  // A box the size of a character cell, with a diagonal, in red.
  void marker() {
    wrapIfFull();
    drawn_ = true;
    if (draw_) {
      // Inside the print line: wrapIfFull has just made room.
      const int x = static_cast<int>(x_);
      const int x0 = kLeftEdgePixels + x / kXPerPixel + 1;
      const int x1 = kLeftEdgePixels + (x + charWidth()) / kXPerPixel - 2;
      const long long top = (y_ - pageTop()) / kYPerPixel;
      const int y0 = static_cast<int>(std::min<long long>(top, page_.height));
      const int y1 = static_cast<int>(std::min<long long>(top + kGlyphPins * kPixelsPerUnit - 1, page_.height));
      auto put = [this](int px, int py) {
        if (px < 0 || py < 0 || px >= page_.width || py >= page_.height) return;
        this->put(px, py, kMarker);
      };
      for (int t = 0; t < 2; ++t) {
        for (int px = x0; px <= x1; ++px) {
          put(px, y0 + t);
          put(px, y1 - t);
        }
        for (int py = y0; py <= y1; ++py) {
          put(x0 + t, py);
          put(x1 - t, py);
        }
      }
      for (int py = y0; py <= y1; ++py) {
        const int px = x0 + (py - y0) * (x1 - x0) / std::max(1, y1 - y0);
        put(px, py);
        put(px + 1, py);
      }
    }
    x_ += charWidth();
  }

  void graphics(const Command& c) {
    const int step = kXPerInch / c.density;
    const std::size_t bytesPerColumn = c.pins == 9 ? 2 : 1;
    for (std::size_t i = 0; i + bytesPerColumn <= c.data.size(); i += bytesPerColumn) {
      if (x_ < rightMargin_) {
        unsigned bits = static_cast<unsigned char>(c.data[i]);
        for (int pinRow = 0; pinRow < 8; ++pinRow) {
          if ((bits >> (7 - pinRow)) & 1u) pin(x_, y_ + pinRow * kYPerPin);
        }
        if (c.pins == 9 && (static_cast<unsigned char>(c.data[i + 1]) & 0x80u)) {
          pin(x_, y_ + 8 * kYPerPin);
        }
      }
      x_ += step;
    }
  }

  const RenderOptions& options_;
  const PageSink* sink_;
  const bool draw_;
  Page page_;
  RenderSummary summary_;
  std::size_t pageIndex_ = 0;  // of the page being drawn, from 0
  bool drawn_ = false;
  bool stopped_ = false;
  std::size_t dirtyBegin_ = 0, dirtyEnd_ = 0;  // pixel rows drawn on

  // Print position, 1/720 inch from column 0: graphics past the right margin
  // move it on without limit, so it is wide enough for any stream.
  long long x_ = 0;
  long long y_ = 0;      // top pin, 1/1080 inch from the top of the first page
  long long top_ = 0;    // top of the current form
  long long formLength_ = 0;
  long long spacing_ = 0;
  bool elite_ = false, condensed_ = false, doubleWidth_ = false, doubleLine_ = false;
  int leftMargin_ = 0, rightMargin_ = kPrintLine;
  std::vector<int> tabs_;                 // from the left margin
  std::vector<long long> verticalTabs_;   // from the top of form
  bool verticalTabsSet_ = false;
};

}  // namespace

std::optional<Paper> paperNamed(std::string_view name) {
  for (const Paper& p : kPapers) {
    if (name == p.name) return p;
  }
  return std::nullopt;
}

std::string paperNames() {
  std::string s;
  for (const Paper& p : kPapers) s += (s.empty() ? "" : ", ") + std::string(p.name);
  return s;
}

RenderSummary render(std::string_view stream, const RenderOptions& options, const PageSink& sink) {
  {
    Printer counter(options, nullptr, false);
    RenderSummary counted = counter.run(stream);
    if (counted.tooManyPages) {
      RenderSummary summary;
      summary.tooManyPages = true;
      return summary;
    }
  }
  return Printer(options, &sink, true).run(stream);
}

}  // namespace bspp::preview
