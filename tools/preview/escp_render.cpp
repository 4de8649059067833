#include "escp_render.h"

#include <algorithm>
#include <cstdio>

#include "dot_font.h"
#include "escp_stream.h"

namespace bspp::preview {

bool Page::any(int x0, int y0, int x1, int y1, Ink ink) const {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width);
  y1 = std::min(y1, height);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (at(x, y) == ink) return true;
    }
  }
  return false;
}

std::uint64_t digest(const Page& page) {
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&h](std::uint8_t b) {
    h ^= b;
    h *= 1099511628211ull;
  };
  for (int v : {page.width, page.height}) {
    for (int s = 0; s < 32; s += 8) mix(static_cast<std::uint8_t>(static_cast<unsigned>(v) >> s));
  }
  for (std::uint8_t p : page.pixels) mix(p);
  return h;
}

namespace {

std::string hexOffset(std::size_t offset) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "offset %zu (0x%zX)", offset, offset);
  return buf;
}

class Printer {
 public:
  Rendering run(std::string_view stream) {
    newPage();
    for (const Command& c : parseStream(stream)) execute(c);
    // A form feed at the very end leaves an untouched page: not printed.
    if (result_.pages.size() > 1 && !drawn_) result_.pages.pop_back();
    return std::move(result_);
  }

 private:
  void execute(const Command& c) {
    switch (c.op) {
      case Op::Text:
        for (char ch : c.data) printChar(static_cast<unsigned char>(ch));
        break;
      case Op::CarriageReturn: x_ = 0; break;
      case Op::LineFeed: lineFeed(); break;
      case Op::FormFeed:
        newPage();
        break;
      case Op::LineSpacing: spacing_ = c.value; break;
      case Op::Graphics: graphics(c.data); break;
      case Op::Unknown: {
        marker();
        std::string bytes;
        for (char ch : c.data) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "%s%02X", bytes.empty() ? "" : " ",
                        static_cast<unsigned char>(ch));
          bytes += buf;
        }
        result_.problems.push_back(
            {c.offset, "unknown byte" + std::string(c.data.size() > 1 ? "s " : " ") + bytes +
                           " at " + hexOffset(c.offset) + ", drawn as a red box"});
        break;
      }
      case Op::Truncated:
        result_.problems.push_back({c.offset, "truncated command at " + hexOffset(c.offset) +
                                                  ": the stream ends inside it"});
        break;
    }
  }

  void newPage() {
    Page page;
    page.width = kPageWidthDots * kPixelsPerDot;
    page.height = kPageHeightUnits * kPixelsPerUnit;
    page.pixels.assign(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height),
                       kPaper);
    result_.pages.push_back(std::move(page));
    x_ = 0;
    y_ = 0;
    drawn_ = false;
  }

  void lineFeed() {
    x_ = 0;
    y_ += spacing_;
    while (y_ >= kPageHeightUnits) {
      const int carry = y_ - kPageHeightUnits;
      newPage();
      y_ = carry;
    }
  }

  // One pin mark: a disc 5 pixels across centred on the dot.
  void pin(int dot, int unit, Ink ink = kInk) {
    Page& page = result_.pages.back();
    const int cx = pixelX(dot) + 1;
    const int cy = pixelY(unit) + 2;
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        if (dx * dx + dy * dy > 6) continue;
        const int px = cx + dx;
        const int py = cy + dy;
        if (px < 0 || py < 0 || px >= page.width || py >= page.height) continue;
        page.pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(page.width) +
                    static_cast<std::size_t>(px)] = ink;
      }
    }
    drawn_ = true;
  }

  // Text past the end of the print line goes on to the next line.
  void wrapIfFull() {
    if (x_ + kColumnDots > kPrintLineDots) lineFeed();
  }

  void printChar(unsigned char c) {
    wrapIfFull();
    const auto& rows = glyphRows(c);
    for (int r = 0; r < kGlyphPins; ++r) {
      for (int col = 0; col < kGlyphColumns; ++col) {
        if ((unsigned{rows[static_cast<std::size_t>(r)]} >> (kGlyphColumns - 1 - col)) & 1u) {
          pin(x_ + 1 + 2 * col, y_ + r);
        }
      }
    }
    x_ += kColumnDots;
  }

  // A box the size of a character cell, with a diagonal, in red.
  void marker() {
    wrapIfFull();
    Page& page = result_.pages.back();
    const int x0 = pixelX(x_) + 1;
    const int x1 = pixelX(x_ + kColumnDots) - 2;
    const int y0 = pixelY(y_);
    const int y1 = pixelY(y_ + kGlyphPins) - 1;
    auto put = [&page](int px, int py) {
      if (px < 0 || py < 0 || px >= page.width || py >= page.height) return;
      page.pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(page.width) +
                  static_cast<std::size_t>(px)] = kMarker;
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
    drawn_ = true;
    x_ += kColumnDots;
  }

  void graphics(std::string_view columns) {
    for (char byte : columns) {
      if (x_ < kPrintLineDots) {
        const unsigned bits = static_cast<unsigned char>(byte);
        for (int pinRow = 0; pinRow < 8; ++pinRow) {
          if ((bits >> (7 - pinRow)) & 1u) pin(x_, y_ + pinRow);
        }
      }
      ++x_;
    }
  }

  Rendering result_;
  int x_ = 0;         // print position, dots from the left margin
  int y_ = 0;         // top pin, units of 1/72 inch from the top of the page
  int spacing_ = 12;  // the power-on line spacing: 1/6 inch
  bool drawn_ = false;
};

}  // namespace

Rendering render(std::string_view stream) { return Printer().run(stream); }

}  // namespace bspp::preview
