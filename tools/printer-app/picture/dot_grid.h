// A page on the printer's dot grid, filled from a picture's rows by area.
//
// Each cell of the grid (one dot: 1/120 inch across, 1/72 inch down) keeps
// the ink the picture puts in it, averaged over the cell's area with paper
// white wherever the picture does not reach, and the darkest pixel much of
// which lies in it (thin lines are found by it).
#pragma once

#include <cstdint>
#include <vector>

namespace bspp::picture {

class Grid {
 public:
  Grid(int columns, int rows);

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  // Average darkness of a cell, 0 (paper) to 255 (black).
  float* ink(int row) { return &ink_[index(row)]; }
  const float* ink(int row) const { return &ink_[index(row)]; }
  // Darkest pixel mostly inside the cell, 0 to 255.
  std::uint8_t* peak(int row) { return &peak_[index(row)]; }
  const std::uint8_t* peak(int row) const { return &peak_[index(row)]; }

  void clear();

 private:
  std::size_t index(int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_);
  }

  int columns_;
  int rows_;
  std::vector<float> ink_;
  std::vector<std::uint8_t> peak_;
};

// The share of a grid cell one source pixel covers along one axis.
struct Tap {
  int cell;
  float weight;  // the overlap as a fraction of the cell
  bool peak;     // much of the pixel (or of the cell) is in this cell
};

// Where the pixels along one axis of a picture fall on one axis of the grid:
// pixel k (or n - 1 - k when reversed) covers cells [start + k * pitch,
// start + (k + 1) * pitch); cells outside [0, cells) are off the page.
class AxisMap {
 public:
  AxisMap() = default;
  AxisMap(long long pixels, double pitch, double start, bool reversed, int cells);

  // The taps of pixel `k` (none when it is off the page).
  void taps(long long k, std::vector<Tap>& out) const;
  // Whether pixel `k` covers any cell.
  bool lands(long long k) const;

  long long pixels() const { return pixels_; }
  int cells() const { return cells_; }

 private:
  long long pixels_ = 0;
  double pitch_ = 1;
  double start_ = 0;
  bool reversed_ = false;
  int cells_ = 0;
};

// Fills a grid from the rows of a picture: source x along one grid axis,
// source y along the other (a picture turned a quarter turn has its x along
// the grid's rows). Rows come in order (up or down the picture); finish()
// once after them.
//
// Where several source rows fall in one grid cell's row (a picture finer
// than the grid), they are summed first, pixel by pixel, and resampled along
// the row once for all of them.
class Canvas {
 public:
  // `xAlongRows`: source x runs down the page (pin rows), y across.
  // `peaks`: keep each cell's darkest pixel (for line art).
  Canvas(Grid& grid, long long width, const AxisMap& x, const AxisMap& y, bool xAlongRows, bool peaks);

  // Whether row `y` lands on the page at all.
  bool wants(long long y) const { return y_.lands(y); }
  // `count` source rows from `y` on, all the same `width` darkness values
  // (0 paper, 255 black): a raster line and its repeats.
  void addRows(long long y, long long count, const std::uint8_t* darkness);
  void addRow(long long y, const std::uint8_t* darkness) { addRows(y, 1, darkness); }
  // The picture into the grid.
  void finish();

  // Whether the rows that landed hold more than `limit` grey levels (a
  // picture with few is drawn, not photographed): asked before the rows,
  // answered after them. Counting stops once there are more.
  void countLevels(int limit) { levelLimit_ = limit; }
  bool manyLevels() const { return levels_ > levelLimit_; }
  // Stops keeping the darkest pixels (the page will not be drawn as line
  // art after all).
  void dropPeaks() { peaks_ = false; }

 private:
  // The source pixels a grid cell gathers along a row: [first, last], the
  // two ends with their own shares, those between wholly inside the cell.
  struct Span {
    int first = -1, last = -1;  // none: the cell is off the picture
    float firstShare = 0, lastShare = 0;
    bool firstPeak = false, lastPeak = false;
  };
  // The source rows gathered for one grid row (along y) so far: their sum
  // pixel by pixel, each weighted by its share of the cell, and the darkest
  // of those that lie much in it; pixels [first, last] hold ink.
  struct Gathered {
    int cell = -1;  // none
    std::vector<float> sum;
    std::vector<std::uint8_t> most;
    long long first = 0, last = -1;
  };

  void see(const std::uint8_t* darkness, long long first, long long last);
  void gather(Gathered& g, const Tap& tap, const std::uint8_t* darkness, long long first, long long last);
  void flush(Gathered& g);
  float* accRow(int cell);
  std::uint8_t* peakRow(int cell);

  Grid& grid_;
  AxisMap x_, y_;
  bool xAlongRows_;
  bool peaks_;
  int cellsX_, cellsY_;       // cells along source x's grid axis, and y's
  // How a source row falls on its cells, and the cells each pixel touches.
  std::vector<Span> spans_;
  float innerShare_ = 0;  // a pixel wholly inside a cell: its pitch
  std::vector<int> firstCell_, lastCell_;  // per pixel, -1 when off the page
  // A turned picture is gathered here, its cells in its own order.
  std::vector<float> turnedInk_;
  std::vector<std::uint8_t> turnedPeak_;
  // Two grid rows being gathered: a source row falls in one or two.
  Gathered gathered_[2];
  std::vector<Tap> rowTaps_, mergedTaps_;
  int levelLimit_ = -1;  // not counting
  int levels_ = 0;
  bool seen_[256] = {};
};

}  // namespace bspp::picture
