#include "dot_grid.h"

#include <algorithm>
#include <cmath>

namespace bspp::picture {
namespace {

constexpr double kSliver = 1e-6;  // overlaps below this are rounding, not ink

}  // namespace

Grid::Grid(int columns, int rows)
    : columns_(columns),
      rows_(rows),
      ink_(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), 0.0f),
      peak_(ink_.size(), 0) {}

void Grid::clear() {
  std::fill(ink_.begin(), ink_.end(), 0.0f);
  std::fill(peak_.begin(), peak_.end(), std::uint8_t{0});
}

AxisMap::AxisMap(long long pixels, double pitch, double start, bool reversed, int cells)
    : pixels_(pixels), pitch_(pitch), start_(start), reversed_(reversed), cells_(cells) {}

void AxisMap::taps(long long k, std::vector<Tap>& out) const {
  out.clear();
  if (k < 0 || k >= pixels_) return;
  const long long place = reversed_ ? pixels_ - 1 - k : k;
  const double lo = start_ + static_cast<double>(place) * pitch_;
  const double hi = lo + pitch_;
  if (hi <= 0 || lo >= cells_) return;
  const double half = 0.5 * std::min(pitch_, 1.0) - kSliver;
  const int first = std::max(0, static_cast<int>(std::floor(lo)));
  const int end = std::min(cells_, static_cast<int>(std::ceil(hi)));
  for (int c = first; c < end; ++c) {
    const double overlap = std::min(hi, c + 1.0) - std::max(lo, static_cast<double>(c));
    if (overlap < kSliver) continue;
    out.push_back({c, static_cast<float>(overlap), overlap >= half});
  }
}

bool AxisMap::lands(long long k) const {
  if (k < 0 || k >= pixels_) return false;
  const long long place = reversed_ ? pixels_ - 1 - k : k;
  const double lo = start_ + static_cast<double>(place) * pitch_;
  return lo + pitch_ > kSliver && lo < cells_ - kSliver;
}

Canvas::Canvas(Grid& grid, long long width, const AxisMap& x, const AxisMap& y, bool xAlongRows)
    : grid_(grid), y_(y), xAlongRows_(xAlongRows) {
  const auto n = static_cast<std::size_t>(width);
  tapStart_.assign(n + 1, 0);
  std::vector<Tap> taps;
  firstX_ = width;
  for (std::size_t k = 0; k < n; ++k) {
    tapStart_[k] = static_cast<std::uint32_t>(taps_.size());
    x.taps(static_cast<long long>(k), taps);
    if (!taps.empty()) {
      firstX_ = std::min(firstX_, static_cast<long long>(k));
      endX_ = static_cast<long long>(k) + 1;
    }
    taps_.insert(taps_.end(), taps.begin(), taps.end());
  }
  tapStart_[n] = static_cast<std::uint32_t>(taps_.size());
  const int cells = xAlongRows ? grid.rows() : grid.columns();
  line_.assign(static_cast<std::size_t>(cells), 0.0f);
  linePeak_.assign(static_cast<std::size_t>(cells), 0);
}

bool Canvas::wants(long long y) const { return y_.lands(y); }

void Canvas::addRow(long long y, const std::uint8_t* darkness) {
  y_.taps(y, rowTaps_);
  if (rowTaps_.empty()) return;

  // Along the row: each pixel into the cells it covers.
  int lo = static_cast<int>(line_.size()), hi = -1;
  for (long long k = firstX_; k < endX_; ++k) {
    const std::uint8_t v = darkness[k];
    seen_[v] = true;
    if (v == 0) continue;
    const auto ku = static_cast<std::size_t>(k);
    for (std::uint32_t t = tapStart_[ku]; t < tapStart_[ku + 1]; ++t) {
      const Tap& tap = taps_[t];
      const auto c = static_cast<std::size_t>(tap.cell);
      line_[c] += static_cast<float>(v) * tap.weight;
      if (tap.peak && v > linePeak_[c]) linePeak_[c] = v;
      lo = std::min(lo, tap.cell);
      hi = std::max(hi, tap.cell);
    }
  }
  if (hi < lo) return;

  // Across: the resampled row into the cells the row covers.
  for (const Tap& rowTap : rowTaps_) {
    for (int c = lo; c <= hi; ++c) {
      const auto cu = static_cast<std::size_t>(c);
      const int row = xAlongRows_ ? c : rowTap.cell;
      const int column = xAlongRows_ ? rowTap.cell : c;
      grid_.ink(row)[column] += rowTap.weight * line_[cu];
      if (rowTap.peak) {
        std::uint8_t& p = grid_.peak(row)[column];
        p = std::max(p, linePeak_[cu]);
      }
    }
  }
  std::fill(line_.begin() + lo, line_.begin() + hi + 1, 0.0f);
  std::fill(linePeak_.begin() + lo, linePeak_.begin() + hi + 1, std::uint8_t{0});
}

int Canvas::levels() const { return static_cast<int>(std::count(std::begin(seen_), std::end(seen_), true)); }

}  // namespace bspp::picture
