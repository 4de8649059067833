#include "halftone.h"

#include <algorithm>
#include <array>
#include <vector>

namespace bspp::picture {
namespace {

constexpr float kBlack = 255.0f;
constexpr float kPaperBelow = 0.5f;          // darkness under this is paper
constexpr float kSolidAbove = 254.5f;        // and over this solid ink
// A thin line or dot: a pixel at least this dark lies mostly in the cell...
constexpr std::uint8_t kLinePixel = 112;
// ...which it darkens well beyond the cell's average (the cell is partly
// inked, not an even grey)...
constexpr float kPartlyInked = 1.5f;
// ...and the cell stands out from its eight neighbours: darker by this
// factor than their median, with at least three of them nearly paper (a
// quarter of its ink or less). The cells along a line are like that; those
// along the edge of an area, or in the grain of a screened grey, are about
// as dark as the cells around them.
constexpr float kLineContrast = 1.25f;
constexpr float kLightNeighbour = 0.25f;
constexpr int kLightNeighbours = 3;

bool thinLine(const Grid& grid, int row, int c) {
  const float ink = grid.ink(row)[c];
  const float peak = grid.peak(row)[c];
  if (peak < kLinePixel || peak < kPartlyInked * ink) return false;
  std::array<float, 8> around{};
  std::size_t n = 0;
  int light = 0;
  for (int r = row - 1; r <= row + 1; ++r) {
    for (int x = c - 1; x <= c + 1; ++x) {
      if (r == row && x == c) continue;
      const bool onPage = r >= 0 && r < grid.rows() && x >= 0 && x < grid.columns();
      const float a = onPage ? grid.ink(r)[x] : 0.0f;  // off the page is paper
      around[n++] = a;
      if (a <= kLightNeighbour * ink) ++light;
    }
  }
  if (light < kLightNeighbours) return false;
  std::nth_element(around.begin(), around.begin() + 4, around.end());
  const float median = (around[4] + *std::max_element(around.begin(), around.begin() + 4)) / 2;
  return ink > kLineContrast * median;
}

// Whether a cell takes a share of its neighbours' error: a grey one does;
// paper and solid ink, which print the same whatever they are given, and
// cells off the page do not, so that the ink of a grey stays in that grey.
bool takesError(const Grid& grid, int row, int c) {
  if (row >= grid.rows() || c < 0 || c >= grid.columns()) return false;
  const float a = grid.ink(row)[c];
  return a >= kPaperBelow && a < kSolidAbove;
}

}  // namespace

void printGrid(const Grid& grid, Rendering rendering, JobWriter& out) {
  const int columns = grid.columns();
  // Error carried to this row and the next, with a cell of room either side.
  std::vector<float> here(static_cast<std::size_t>(columns) + 2, 0.0f);
  std::vector<float> below(here.size(), 0.0f);
  std::vector<std::uint8_t> band(static_cast<std::size_t>(columns), 0);
  bool bandInked = false;

  for (int row = 0; row < grid.rows() && out.open(); ++row) {
    const float* ink = grid.ink(row);
    const auto bit = static_cast<std::uint8_t>(0x80u >> (row % kBandRows));
    // Serpentine: every other row right to left, so no drift builds up.
    const bool forward = row % 2 == 0;
    const int step = forward ? 1 : -1;
    for (int i = 0; i < columns; ++i) {
      const int c = forward ? i : columns - 1 - i;
      const float a = ink[c];
      if (a < kPaperBelow) continue;
      const auto e = static_cast<std::size_t>(c + 1);  // index into the error rows
      const auto cu = static_cast<std::size_t>(c);
      if (a >= kSolidAbove) {
        band[cu] |= bit;
        bandInked = true;
        continue;
      }
      const float value = a / kBlack + here[e];
      const bool dot = value >= 0.5f || (rendering == Rendering::lineArt && thinLine(grid, row, c));
      if (dot) {
        band[cu] |= bit;
        bandInked = true;
      }
      // Floyd and Steinberg's weights (mirrored on right-to-left rows),
      // shared among the neighbours that take error.
      const float error = std::clamp(value - (dot ? 1.0f : 0.0f), -1.0f, 1.0f);
      const bool takes[4] = {takesError(grid, row, c + step), takesError(grid, row + 1, c - step),
                             takesError(grid, row + 1, c), takesError(grid, row + 1, c + step)};
      const float weights[4] = {7, 3, 5, 1};
      float total = 0;
      for (int k = 0; k < 4; ++k) total += takes[k] ? weights[k] : 0.0f;
      if (total == 0) continue;
      const float share = error / total;
      const auto ahead = static_cast<std::size_t>(static_cast<int>(e) + step);
      const auto behind = static_cast<std::size_t>(static_cast<int>(e) - step);
      if (takes[0]) here[ahead] += share * weights[0];
      if (takes[1]) below[behind] += share * weights[1];
      if (takes[2]) below[e] += share * weights[2];
      if (takes[3]) below[ahead] += share * weights[3];
    }
    here.swap(below);
    std::fill(below.begin(), below.end(), 0.0f);

    if (row % kBandRows == kBandRows - 1 || row == grid.rows() - 1) {
      if (bandInked) out.band(row - row % kBandRows, band.data(), columns);
      std::fill(band.begin(), band.end(), std::uint8_t{0});
      bandInked = false;
    }
  }
}

}  // namespace bspp::picture
