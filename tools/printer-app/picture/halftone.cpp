#include "halftone.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace bspp::picture {
namespace {

constexpr float kPaperBelow = 0.5f;          // darkness under this is paper
constexpr float kSolidAbove = 254.5f;        // and over this solid ink
// A thin line or dot, in one of two ways:
//  - finer than the cell: a pixel at least this dark lies in a cell that it
//    covers only in part (the cell's ink is at most 2/3 of that pixel's);
constexpr std::uint8_t kLinePixel = 112;
constexpr float kPartly = 1.5f;
//  - about as wide as the cell (a picture of about the grid's resolution,
//    or a line drawn smooth, spread over two pixels): a cell of at least
//    this ink with both neighbours across it at most half as dark, or one
//    of them no darker than it and the cell beyond that one half as dark
//    (a line two cells wide).
constexpr float kRidgeInk = 77;
constexpr float kRidgeSides = 0.5f;
// Then, with paper near it: at least four of the 24 cells around it (two on
// each side) nearly paper, a quarter of its ink or less. A line or a
// crossing of lines has paper a cell or two away; the grain of a screened
// grey has none.
constexpr float kLightNeighbour = 0.25f;
constexpr int kLightNeighbours = 4;
constexpr int kReach = 2;
// And it is not the edge of a shape (which prints as it covers): no
// neighbour above, below or beside it at least as dark and covered whole
// with dark pixels, with paper on the opposite side. (A line's cell next to
// where it crosses another has the crossing on one side and the line on the
// other.)

bool partly(float ink, float peak) { return peak >= kLinePixel && peak >= kPartly * ink; }
bool solid(float ink, float peak) { return ink >= kLinePixel && peak < kPartly * ink; }

bool thinLine(const Grid& grid, int row, int c) {
  const float ink = grid.ink(row)[c];
  const auto onPage = [&grid](int r, int x) { return r >= 0 && r < grid.rows() && x >= 0 && x < grid.columns(); };
  const auto inkAt = [&](int r, int x) { return onPage(r, x) ? grid.ink(r)[x] : 0.0f; };
  if (!partly(ink, grid.peak(row)[c])) {
    if (ink < kRidgeInk) return false;
    const float side = kRidgeSides * ink;
    // Across the line along (dr, dc): light on both sides, one cell or two
    // wide.
    const auto across = [&](int dr, int dc) {
      const float before = inkAt(row - dr, c - dc), after = inkAt(row + dr, c + dc);
      if (before <= side && after <= side) return true;
      if (before <= side && after <= ink) return inkAt(row + 2 * dr, c + 2 * dc) <= side;
      if (after <= side && before <= ink) return inkAt(row - 2 * dr, c - 2 * dc) <= side;
      return false;
    };
    if (!across(1, 0) && !across(0, 1) && !across(1, 1) && !across(1, -1)) return false;
  }
  const auto light = [&](int r, int x) { return inkAt(r, x) <= kLightNeighbour * ink; };
  int lights = 0;
  for (int r = row - kReach; r <= row + kReach; ++r) {
    for (int x = c - kReach; x <= c + kReach; ++x) {
      if (r == row && x == c) continue;
      if (light(r, x)) {
        ++lights;
        continue;
      }
      const int dr = r - row, dc = x - c;
      if (std::abs(dr) + std::abs(dc) != 1) continue;
      const float a = grid.ink(r)[x];
      if (a >= ink && solid(a, grid.peak(r)[x]) && light(row - dr, c - dc)) return false;
    }
  }
  return lights >= kLightNeighbours;
}

// Whether a cell takes a share of its neighbours' error: a grey one does;
// paper and solid ink, which print the same whatever they are given, and
// cells off the page do not, so that the ink of a grey stays in that grey.
// Marked for a whole row, with a cell of room either side.
void markGreys(const Grid& grid, int row, std::vector<std::uint8_t>& greys) {
  std::fill(greys.begin(), greys.end(), std::uint8_t{0});
  if (row >= grid.rows()) return;
  const float* ink = grid.ink(row);
  for (int c = 0; c < grid.columns(); ++c) {
    greys[static_cast<std::size_t>(c) + 1] = ink[c] >= kPaperBelow && ink[c] < kSolidAbove;
  }
}

// The error is carried in fixed point: a cell's darkness 0-255 times 16.
constexpr int kScale = 16;
constexpr int kFull = 255 * kScale;  // a struck dot
constexpr int kShareBits = 12;       // shares in 1/4096

// Floyd and Steinberg's weights (ahead, behind below, below, ahead below),
// shared among the neighbours that take error: for each of the sixteen ways
// the four may take it or not, in 1/4096.
struct Shares {
  std::array<std::array<int, 4>, 16> of{};
  Shares() {
    const int weights[4] = {7, 3, 5, 1};
    for (unsigned mask = 1; mask < 16; ++mask) {
      int total = 0;
      for (unsigned k = 0; k < 4; ++k) total += (mask >> k & 1u) ? weights[k] : 0;
      for (unsigned k = 0; k < 4; ++k) {
        of[mask][k] = (mask >> k & 1u) ? ((weights[k] << kShareBits) + total / 2) / total : 0;
      }
    }
  }
};

int share(int error, int part) { return (error * part + (1 << (kShareBits - 1))) >> kShareBits; }

// One row of the page, and what it carries to the next.
struct Row {
  const Grid& grid;
  int row;
  Rendering rendering;
  const float* ink;
  const int* value;          // ink in fixed point
  const int* here;           // error carried to this row (padded)
  int* below;                // error for the next row (padded)
  const std::uint8_t* greysHere;   // cells of this row that take error (padded)
  const std::uint8_t* greysBelow;  // and of the next
  std::uint8_t* band;
  std::uint8_t bit;
};

// Dithers one row in one direction; true when a dot was struck. The error
// for the cell ahead, and the next row's three shares, stay in registers
// until each is whole.
template <int kStep>
bool diffuseRow(const Row& r, const Shares& shares) {
  const int columns = r.grid.columns();
  bool inked = false;
  int carry = 0;               // for the cell ahead
  int pendingBehind = 0;       // the next row's error under the cell behind
  int pendingHere = 0;         // and under this cell, so far
  std::ptrdiff_t e = kStep > 0 ? 1 : columns;  // padded index
  for (int i = 0; i < columns; ++i, e += kStep) {
    const std::ptrdiff_t c = e - 1;
    const std::ptrdiff_t ahead = e + kStep, behind = e - kStep;
    int toBehind = 0, toHere = 0, toAhead = 0;
    if (!r.greysHere[e]) {
      carry = 0;
      if (r.ink[c] >= kSolidAbove) {
        r.band[c] |= r.bit;
        inked = true;
      }
    } else {
      const int v = r.value[c] + r.here[e] + carry;
      bool dot = v >= kFull / 2;
      // A thin line's dot is struck whatever the error, and passes none on:
      // the next cell of the line, or the one where two lines cross, must
      // not lose its dot for it.
      const bool line =
          !dot && r.rendering == Rendering::lineArt && thinLine(r.grid, r.row, static_cast<int>(c));
      dot = dot || line;
      r.band[c] |= dot ? r.bit : 0;
      inked = inked || dot;
      const int error = line ? 0 : std::clamp(v - (dot ? kFull : 0), -kFull, kFull);
      const auto takers = static_cast<unsigned>(r.greysHere[ahead] | r.greysBelow[behind] << 1 |
                                                r.greysBelow[e] << 2 | r.greysBelow[ahead] << 3);
      const auto& part = shares.of[takers];
      carry = share(error, part[0]);
      toBehind = share(error, part[1]);
      toHere = share(error, part[2]);
      toAhead = share(error, part[3]);
    }
    r.below[behind] = pendingBehind + toBehind;  // whole: no later cell adds to it
    pendingBehind = pendingHere + toHere;
    pendingHere = toAhead;
  }
  r.below[e - kStep] = pendingBehind;
  r.below[e] = pendingHere;  // the padding past the row's end
  return inked;
}

}  // namespace

void printGrid(const Grid& grid, Rendering rendering, JobWriter& out) {
  static const Shares shares;
  const int columns = grid.columns();
  const std::size_t padded = static_cast<std::size_t>(columns) + 2;  // a cell of room either side
  // Error carried to this row and the next, and which cells take it.
  std::vector<int> here(padded, 0), below(padded, 0);
  std::vector<std::uint8_t> greysHere(padded, 0), greysBelow(padded, 0);
  std::vector<int> value(static_cast<std::size_t>(columns), 0);
  std::vector<std::uint8_t> band(static_cast<std::size_t>(columns), 0);
  bool bandInked = false;
  markGreys(grid, 0, greysHere);

  for (int row = 0; row < grid.rows() && out.open(); ++row) {
    markGreys(grid, row + 1, greysBelow);
    const float* ink = grid.ink(row);
    // The share of dots struck follows the ink linearly (the grey chart's
    // aim). A real head's dots spread and print darker than their share: a
    // curve measured on paper would map `ink` here, before the dithering.
    for (std::size_t c = 0; c < value.size(); ++c) value[c] = static_cast<int>(ink[c] * kScale + 0.5f);
    const Row r{grid,         row,          rendering,         ink,
                value.data(), here.data(),  below.data(),      greysHere.data(),
                greysBelow.data(), band.data(), static_cast<std::uint8_t>(0x80u >> (row % kBandRows))};
    // Serpentine: every other row right to left, so no drift builds up.
    bandInked = (row % 2 == 0 ? diffuseRow<1>(r, shares) : diffuseRow<-1>(r, shares)) || bandInked;
    here.swap(below);
    greysHere.swap(greysBelow);

    if (row % kBandRows == kBandRows - 1 || row == grid.rows() - 1) {
      if (bandInked) out.band(row - row % kBandRows, band.data(), columns);
      std::fill(band.begin(), band.end(), std::uint8_t{0});
      bandInked = false;
    }
  }
}

}  // namespace bspp::picture
