// Puts a job stream on paper as a 9-pin ESC/P printer would, as pictures of
// US-letter pages.
//
// Geometry: 360 pixels per inch both ways, so a page of 8.5 x 11 inches is
// 3060 x 3960 pixels. A horizontal dot (1/120 inch) is 3 pixels, a pin row
// (1/72 inch, the printer's line-spacing unit) is 5 pixels; each dot is
// drawn as a round pin mark 5 pixels across. Column 0 of the print line is
// 1/4 inch from the paper's left edge; the print line ends 8 inches (80
// columns, 960 dots) further right. The first line's top pin is at the top
// edge of the page.
//
// What is understood: printable ASCII at 10 characters per inch in the
// built-in draft font; CR; LF (advance by the line spacing, back to the left
// margin); FF (next page); ESC "2" (1/6 inch), ESC "0" (1/8), ESC "1" (7/72),
// ESC "A" n (n/72 inch); ESC "L" nL nH (8-dot graphics at 120 dots per inch,
// bit 7 the top pin, placed at the print position and moving it to their
// right end). Text that would pass the right end of the print line wraps to
// the next line; graphics past it are dropped, as printers do. Paper feeds
// past the bottom of a page continue on the next page (continuous forms).
// Every other byte (and ESC with any other command byte) is drawn as a red
// box in the column where it stands and takes that column; a command cut
// short by the end of the stream is not carried out. Both are reported as
// problems with their offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bspp::preview {

inline constexpr int kPixelsPerInch = 360;
inline constexpr int kPixelsPerDot = 3;    // dots of 1/120 inch
inline constexpr int kPixelsPerUnit = 5;   // pin rows of 1/72 inch
inline constexpr int kPageWidthDots = 1020;   // 8.5 inches
inline constexpr int kPageHeightUnits = 792;  // 11 inches
inline constexpr int kLeftMarginDots = 30;
inline constexpr int kPrintLineDots = 960;
inline constexpr int kColumnDots = 12;

// Pixel values of a page.
enum Ink : std::uint8_t { kPaper = 0, kInk = 1, kMarker = 2 };

struct Page {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // row by row, one Ink value per pixel

  std::uint8_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  // True when any pixel of the rectangle [x0, x1) x [y0, y1) holds `ink`.
  bool any(int x0, int y0, int x1, int y1, Ink ink = kInk) const;
};

struct Problem {
  std::size_t offset;
  std::string message;
};

struct Rendering {
  std::vector<Page> pages;
  std::vector<Problem> problems;
};

// Renders the whole stream. A page that stays blank after a form feed at the
// very end is not produced; an empty stream gives one blank page.
Rendering render(std::string_view stream);

// Pixel of the left edge of dot column `dot` of the print line, and of the
// top of pin row `unit` of the page.
inline int pixelX(int dot) { return (kLeftMarginDots + dot) * kPixelsPerDot; }
inline int pixelY(int unit) { return unit * kPixelsPerUnit; }

// A 64-bit FNV-1a digest of the page's size and pixels, for golden tests.
std::uint64_t digest(const Page& page);

}  // namespace bspp::preview
