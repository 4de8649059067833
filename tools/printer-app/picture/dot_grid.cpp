#include "dot_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
  // "Mostly": 40 % (a pixel split in halves between two cells is in both).
  const double half = 0.4 * std::min(pitch_, 1.0);
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

namespace {

// The first and last byte of `row` that is not 0 (paper), or first > last.
void inkedSpan(const std::uint8_t* row, long long n, long long& first, long long& last) {
  first = 0;
  while (first + 8 <= n) {
    std::uint64_t word;
    std::memcpy(&word, row + first, sizeof word);
    if (word != 0) break;
    first += 8;
  }
  while (first < n && row[first] == 0) ++first;
  last = n - 1;
  while (last - 8 >= first) {
    std::uint64_t word;
    std::memcpy(&word, row + last - 7, sizeof word);
    if (word != 0) break;
    last -= 8;
  }
  while (last >= first && row[last] == 0) --last;
}

}  // namespace

Canvas::Canvas(Grid& grid, long long width, const AxisMap& x, const AxisMap& y, bool xAlongRows, bool peaks)
    : grid_(grid),
      x_(x),
      y_(y),
      xAlongRows_(xAlongRows),
      peaks_(peaks),
      cellsX_(x.cells()),
      cellsY_(y.cells()) {
  const auto n = static_cast<std::size_t>(width);
  spans_.resize(static_cast<std::size_t>(cellsX_));
  firstCell_.assign(n, -1);
  lastCell_.assign(n, -1);
  std::vector<Tap> taps;
  for (std::size_t k = 0; k < n; ++k) {
    x.taps(static_cast<long long>(k), taps);
    for (const Tap& t : taps) {
      Span& s = spans_[static_cast<std::size_t>(t.cell)];
      const int pixel = static_cast<int>(k);
      if (s.first < 0) s.first = pixel, s.firstShare = t.weight, s.firstPeak = t.peak && peaks;
      s.last = pixel, s.lastShare = t.weight, s.lastPeak = t.peak && peaks;
      // A pixel between a cell's two ends lies wholly in it.
      innerShare_ = std::max(innerShare_, t.weight);
      firstCell_[k] = firstCell_[k] < 0 ? t.cell : std::min(firstCell_[k], t.cell);
      lastCell_[k] = std::max(lastCell_[k], t.cell);
    }
  }
  if (xAlongRows_) {
    const std::size_t cells = static_cast<std::size_t>(cellsX_) * static_cast<std::size_t>(cellsY_);
    turnedInk_.assign(cells, 0.0f);
    if (peaks_) turnedPeak_.assign(cells, 0);
  }
  for (Gathered& g : gathered_) {
    g.sum.assign(n, 0.0f);
    g.most.assign(n, 0);
  }
}

float* Canvas::accRow(int cell) {
  return xAlongRows_ ? &turnedInk_[static_cast<std::size_t>(cell) * static_cast<std::size_t>(cellsX_)]
                     : grid_.ink(cell);
}

std::uint8_t* Canvas::peakRow(int cell) {
  return xAlongRows_ ? &turnedPeak_[static_cast<std::size_t>(cell) * static_cast<std::size_t>(cellsX_)]
                     : grid_.peak(cell);
}

void Canvas::see(const std::uint8_t* darkness, long long first, long long last) {
  const auto see = [this](std::uint8_t v) {
    levels_ += !seen_[v];
    seen_[v] = true;
  };
  if (first > 0 || last < x_.pixels() - 1) see(0);
  for (long long k = first; k <= last && levels_ <= levelLimit_; ++k) see(darkness[k]);
}

void Canvas::gather(Gathered& g, const Tap& tap, const std::uint8_t* darkness, long long first, long long last) {
  g.cell = tap.cell;
  g.first = g.last < g.first ? first : std::min(g.first, first);
  g.last = std::max(g.last, last);
  float* sum = g.sum.data();
  const float weight = tap.weight;  // (a local: the loop vectorises)
  for (long long k = first; k <= last; ++k) sum[k] += weight * static_cast<float>(darkness[k]);
  if (!(peaks_ && tap.peak)) return;
  std::uint8_t* most = g.most.data();
  for (long long k = first; k <= last; ++k) most[k] = std::max(most[k], darkness[k]);
}

void Canvas::flush(Gathered& g) {
  if (g.cell < 0) return;
  const int row = g.cell;
  g.cell = -1;
  if (g.last < g.first) return;
  // The cells the inked pixels touch (all of them, when an end is off the
  // page), each gathering its span of the summed row.
  const auto f = static_cast<std::size_t>(g.first), l = static_cast<std::size_t>(g.last);
  int lo = 0, hi = cellsX_ - 1;
  if (firstCell_[f] >= 0 && firstCell_[l] >= 0) {
    lo = std::min(firstCell_[f], firstCell_[l]);
    hi = std::max(lastCell_[f], lastCell_[l]);
  }
  const float* sum = g.sum.data();
  const std::uint8_t* most = g.most.data();
  float* ink = accRow(row);
  std::uint8_t* peak = peaks_ ? peakRow(row) : nullptr;
  for (int c = lo; c <= hi; ++c) {
    const Span& s = spans_[static_cast<std::size_t>(c)];
    if (s.first < 0) continue;
    const int end = s.last - s.first;  // the last pixel, from the first
    const float* p = sum + s.first;
    float inner = 0;
    for (int k = 1; k < end; ++k) inner += p[k];
    float total = p[0] * s.firstShare;
    if (end > 0) total += inner * innerShare_ + p[end] * s.lastShare;
    ink[c] += total;
    if (!peak) continue;
    const std::uint8_t* m = most + s.first;
    std::uint8_t darkest = s.firstPeak ? m[0] : 0;
    for (int k = 1; k < end; ++k) darkest = std::max(darkest, m[k]);
    if (end > 0 && s.lastPeak) darkest = std::max(darkest, m[end]);
    peak[c] = std::max(peak[c], darkest);
  }
  std::fill(g.sum.begin() + g.first, g.sum.begin() + g.last + 1, 0.0f);
  std::fill(g.most.begin() + g.first, g.most.begin() + g.last + 1, std::uint8_t{0});
  g.first = 0;
  g.last = -1;
}

void Canvas::addRows(long long y, long long count, const std::uint8_t* darkness) {
  long long first = 0, last = 0;
  inkedSpan(darkness, x_.pixels(), first, last);
  if (levelLimit_ >= 0 && levels_ <= levelLimit_) see(darkness, first, last);
  if (first > last) return;  // paper adds nothing

  // The grid rows these rows cover along y, each with the rows' summed share.
  mergedTaps_.clear();
  for (long long r = y; r < y + count; ++r) {
    y_.taps(r, rowTaps_);
    for (const Tap& t : rowTaps_) {
      auto same = std::find_if(mergedTaps_.begin(), mergedTaps_.end(), [&t](const Tap& m) { return m.cell == t.cell; });
      if (same == mergedTaps_.end()) {
        mergedTaps_.push_back(t);
      } else {
        same->weight += t.weight;
        same->peak = same->peak || t.peak;
      }
    }
  }
  // Grid rows no longer covered are complete (rows come in order).
  for (Gathered& g : gathered_) {
    const bool covered = std::any_of(mergedTaps_.begin(), mergedTaps_.end(), [&g](const Tap& t) { return t.cell == g.cell; });
    if (!covered) flush(g);
  }
  for (const Tap& t : mergedTaps_) {
    Gathered* g = nullptr;
    for (Gathered& candidate : gathered_) {
      if (candidate.cell == t.cell) g = &candidate;
    }
    for (Gathered& candidate : gathered_) {
      if (!g && candidate.cell < 0) g = &candidate;
    }
    if (!g) {  // rows spread over many grid rows (a picture made larger, or repeats)
      flush(gathered_[0]);
      g = &gathered_[0];
    }
    gather(*g, t, darkness, first, last);
    if (mergedTaps_.size() > 2) flush(*g);
  }
}

void Canvas::finish() {
  for (Gathered& g : gathered_) flush(g);
  if (!xAlongRows_) return;
  // Source x ran down the page: cell (x, y) of the gathered picture is
  // pin row x, dot column y. Turned in blocks, to stay in the caches.
  constexpr int kBlock = 32;
  for (int y0 = 0; y0 < cellsY_; y0 += kBlock) {
    for (int x0 = 0; x0 < cellsX_; x0 += kBlock) {
      for (int ty = y0; ty < std::min(y0 + kBlock, cellsY_); ++ty) {
        const float* ink = accRow(ty);
        for (int tx = x0; tx < std::min(x0 + kBlock, cellsX_); ++tx) grid_.ink(tx)[ty] = ink[tx];
        if (!peaks_) continue;
        const std::uint8_t* peak = peakRow(ty);
        for (int tx = x0; tx < std::min(x0 + kBlock, cellsX_); ++tx) grid_.peak(tx)[ty] = peak[tx];
      }
    }
  }
}

}  // namespace bspp::picture
