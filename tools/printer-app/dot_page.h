// A page of PAPPL's black-and-white raster as 9-pin ESC/P graphics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bspp::printer_app {

// The 9-pin grid the page is printed on: 120 dots per inch across (ESC L),
// 72 per inch down (one pin row), text column 0 a quarter inch in from the
// paper's left edge, 80 columns of 12 dots.
inline constexpr int kDotsAcross = 960;
inline constexpr int kDotsPerInchAcross = 120;
inline constexpr int kRowsPerInch = 72;
inline constexpr int kLeftMarginDots = 30;

// Maps the raster's pixels onto that grid (a dot is inked when at least
// half of the pixels it covers are black) and sends each band of 8 pin rows
// that has ink as one ESC L record at its place on the page: blank bands
// are skipped by paper feeds (ESC A n, CR LF), so only inked rows cost time.
// Each page ends with ESC 2 (back to 1/6-inch lines, as text expects) and a
// form feed.
class DotPage {
 public:
  // `width` and `height` in pixels, `xdpi`/`ydpi` the raster's resolution.
  DotPage(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi);

  // One raster line, 1 bit per pixel, most significant bit first, 1 = black.
  // Lines come in order from the top; a line may be skipped.
  void addLine(unsigned y, const unsigned char* bits);

  // The page's stream, after the last line.
  std::string finish();

 private:
  void flushBand();
  void feedTo(int row);

  unsigned width_;
  unsigned height_;
  std::vector<int> columnOf_;          // per pixel column: the dot column, or -1
  std::vector<std::uint16_t> columnPixels_;  // per dot column: pixels it covers
  std::vector<std::uint16_t> rowPixels_;     // per pin row: raster lines it covers
  std::vector<int> rowOf_;             // per raster line: the pin row
  std::vector<std::uint16_t> ink_;     // black pixels per dot of the current band
  int band_ = -1;                      // the band being collected
  int headRow_ = 0;                    // the pin row the head's top pin is on
  std::string stream_;
};

}  // namespace bspp::printer_app
