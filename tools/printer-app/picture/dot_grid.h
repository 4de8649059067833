// A page on the printer's dot grid, filled from a picture's rows by area.
//
// Each cell of the grid (one dot: 1/120 inch across, 1/72 inch down) keeps
// the ink the picture puts in it, averaged over the cell's area with paper
// white wherever the picture does not reach, and the darkest pixel that
// lies mostly inside it (thin lines are found by it).
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
  bool peak;     // most of the pixel (or of the cell) is in this cell
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

 private:
  long long pixels_ = 0;
  double pitch_ = 1;
  double start_ = 0;
  bool reversed_ = false;
  int cells_ = 0;
};

// Fills a grid from the rows of a picture: source x along one grid axis,
// source y along the other (a picture turned a quarter turn has its x along
// the grid's rows).
class Canvas {
 public:
  // `xAlongRows`: source x runs down the page (pin rows), y across.
  Canvas(Grid& grid, long long width, const AxisMap& x, const AxisMap& y, bool xAlongRows);

  // Whether row `y` lands on the page at all.
  bool wants(long long y) const;
  // One source row of `width` darkness values (0 paper, 255 black).
  void addRow(long long y, const std::uint8_t* darkness);

  // The grey levels seen in the rows that landed (a picture with few is
  // drawn, not photographed).
  int levels() const;

 private:
  Grid& grid_;
  AxisMap y_;
  bool xAlongRows_;
  std::vector<std::uint32_t> tapStart_;  // per source column, into taps_
  std::vector<Tap> taps_;
  long long firstX_ = 0, endX_ = 0;      // columns with taps
  std::vector<float> line_;              // the row resampled along its grid axis
  std::vector<std::uint8_t> linePeak_;
  std::vector<Tap> rowTaps_;
  bool seen_[256] = {};
};

}  // namespace bspp::picture
