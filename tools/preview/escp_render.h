// Puts a job stream on paper as a 9-pin ESC/P printer would, as pictures of
// pages, one page at a time.
//
// Geometry: 360 pixels per inch both ways. Each dot is drawn as a round pin
// mark 5 pixels across; a pin row is 1/72 inch (5 pixels). Column 0 of the
// print line is 1/4 inch from the paper's left edge; the print line ends 8
// inches (80 columns at 10 characters per inch) further right. The first
// line's top pin is at the top edge of the first page.
//
// What is understood is what an ESC/P 9-pin printer acts on:
//  - printable ASCII in the built-in draft font at 10, 12 or 17 characters
//    per inch, double width; A0-FE from the upper half of the power-on
//    character table (italics); 80-9F act as the control codes 00-1F;
//  - CR, LF (feed, back to the left margin), FF (next top of form), HT (tab
//    stops every 8 columns, or those of ESC D), VT (a line feed until ESC B
//    sets vertical tabs), BS (one character back);
//  - line spacing ESC 0, 1, 2, 3 n (n/216 inch), A n (n/72 inch); feeds
//    ESC J n and ESC j n (n/216 inch, no carriage return);
//  - graphics ESC K (60 dpi), L (120), Y (120), Z (240), ESC * m (modes 0-6:
//    60, 120, 120, 240, 80, 72, 90 dpi), ESC ^ (9-pin), ESC ? reassigning
//    K/L/Y/Z; the top pin is bit 7; graphics start at the print position and
//    move it to their right end;
//  - pitch and width (ESC P, M, SI, DC2, SO, DC4, ESC W, ESC !), margins
//    (ESC l, ESC Q), positions (ESC $, ESC \, ESC f), page length (ESC C),
//    ESC @;
//  - commands that change nothing the preview draws (NUL, DEL, BEL, DC1,
//    DC3, CAN, bold, italic and underline modes, print quality, character
//    sets, user-defined characters) are read and skipped.
// Text that would pass the right margin wraps to the next line; graphics past
// it are dropped. Feeds past the end of a form continue on the next one
// (continuous forms). Every other byte (and ESC with a command byte a 9-pin
// printer does not have) is drawn as a red box in the column where it stands
// and takes that column; a command cut short by the end of the stream is not
// carried out. Both are reported as problems with their offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compose/escp.h"

namespace bspp::preview {

// The page geometry (dots of 1/120 inch, pin rows of 1/72 inch, the left
// margin and the print line) is the library's: compose/escp.h.
inline constexpr int kPixelsPerInch = 360;
inline constexpr int kPixelsPerDot = kPixelsPerInch / kDotsPerInch;       // 3
inline constexpr int kPixelsPerUnit = kPixelsPerInch / kPinRowsPerInch;   // 5

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
};

// The paper in the printer: its size in pixels at 360 dpi.
struct Paper {
  const char* name;
  int width;
  int height;
};

// "11in" (continuous forms 8.5 x 11 in, the default), "12in" (8.5 x 12 in),
// "a4", "letter"; nothing for another name.
std::optional<Paper> paperNamed(std::string_view name);
// The names paperNamed() knows, for messages: "11in, 12in, a4, letter".
std::string paperNames();

struct RenderOptions {
  Paper paper = *paperNamed("11in");
  std::size_t maxPages = 100;  // a stream with more pages is not drawn
};

struct Problem {
  std::size_t offset;
  std::string message;
};

inline constexpr std::size_t kProblemsKept = 50;

struct RenderSummary {
  std::size_t pages = 0;                // pages handed to the sink
  bool tooManyPages = false;            // more than maxPages: none drawn
  std::size_t problemCount = 0;         // all problems found
  std::vector<Problem> problems;        // the first kProblemsKept of them
};

// Receives each finished page with its number (from 1); the page is only
// valid during the call. Returning false stops the rendering.
using PageSink = std::function<bool(const Page& page, std::size_t number)>;

// Renders the stream one page at a time into a single page buffer: memory
// stays one page whatever the stream holds. The page count is found first,
// without drawing; past options.maxPages nothing is drawn and the summary
// says so. A page left blank after a form feed at the very end is not
// produced; an empty stream gives one blank page.
RenderSummary render(std::string_view stream, const RenderOptions& options, const PageSink& sink);

// Pixel of the left edge of dot column `dot` (1/120 inch) of the print line,
// and of the top of pin row `unit` (1/72 inch) of the page.
inline int pixelX(int dot) { return (kLeftMarginDots + dot) * kPixelsPerDot; }
inline int pixelY(int unit) { return unit * kPixelsPerUnit; }

}  // namespace bspp::preview
