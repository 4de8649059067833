#include "placement.h"

#include <algorithm>
#include <array>

#include "compose/escp.h"

namespace bspp::picture {
namespace {

// Printed size of a picture that says nothing of its resolution, when it is
// printed at its natural size (print-scaling=none).
constexpr double kAssumedDpi = 72.0;
constexpr double kFitSlack = 0.5 / kDotsPerInch;  // "fits" within half a dot
constexpr double kBetterBy = 1.01;                // a turn must gain this much

// A quarter-turn or mirror, as the matrix that takes a picture's (x, y),
// x to the right and y down, to the same axes after it.
using Turn = std::array<std::array<int, 2>, 2>;

constexpr Turn kUpright{{{1, 0}, {0, 1}}};
constexpr Turn kLeftTurn{{{0, 1}, {-1, 0}}};   // anticlockwise: the top goes left
constexpr Turn kRightTurn{{{0, -1}, {1, 0}}};  // clockwise
constexpr Turn kHalfTurn{{{-1, 0}, {0, -1}}};

Turn operator*(const Turn& a, const Turn& b) {
  Turn m{};
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j) m[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j];
  }
  return m;
}

// EXIF orientation 1-8: how the stored picture is turned to be shown.
Turn exifTurn(int orientation) {
  switch (orientation) {
    case 2: return {{{-1, 0}, {0, 1}}};   // mirrored left to right
    case 3: return kHalfTurn;
    case 4: return {{{1, 0}, {0, -1}}};   // mirrored top to bottom
    case 5: return {{{0, 1}, {1, 0}}};    // transposed
    case 6: return kRightTurn;
    case 7: return {{{0, -1}, {-1, 0}}};  // transversed
    case 8: return kLeftTurn;
    default: return kUpright;
  }
}

Turn orientationTurn(Orientation o) {
  switch (o) {
    case Orientation::landscape: return kLeftTurn;  // +90 degrees, as IPP says
    case Orientation::reverseLandscape: return kRightTurn;
    case Orientation::reversePortrait: return kHalfTurn;
    default: return kUpright;
  }
}

bool swaps(const Turn& t) { return t[0][0] == 0; }

// The picture placed with one turn: its printed size and where it starts,
// along the page's axes (across, down), in inches from the printable area's
// top-left corner.
struct Layout {
  Turn turn = kUpright;
  double across = 0, down = 0;  // printed size
  double left = 0, top = 0;
  double score = 0;             // the page covered, times the share of the picture shown
};

Layout layout(const PictureSize& p, const Turn& turn, Scaling scaling, double areaWidth, double areaLength) {
  const bool known = p.xdpi > 0 && p.ydpi > 0;
  const double xInches = static_cast<double>(p.width) / (known ? p.xdpi : kAssumedDpi);
  const double yInches = static_cast<double>(p.height) / (known ? p.ydpi : kAssumedDpi);
  const double across = swaps(turn) ? yInches : xInches;
  const double down = swaps(turn) ? xInches : yInches;

  const double fit = std::min(areaWidth / across, areaLength / down);
  double scale = 1;
  switch (scaling) {
    case Scaling::fit: scale = fit; break;
    case Scaling::fill: scale = std::max(areaWidth / across, areaLength / down); break;
    case Scaling::none: scale = 1; break;
    case Scaling::automatic:
    case Scaling::autoFit: {
      const bool fits = across <= areaWidth + kFitSlack && down <= areaLength + kFitSlack;
      scale = known && fits ? 1 : fit;
      break;
    }
  }
  Layout l;
  l.turn = turn;
  l.across = across * scale;
  l.down = down * scale;
  l.left = (areaWidth - l.across) / 2;
  l.top = (areaLength - l.down) / 2;
  const double covered = std::min(l.across, areaWidth) * std::min(l.down, areaLength);
  l.score = covered * covered / (l.across * l.down);
  return l;
}

}  // namespace

Placement place(const PictureSize& picture, const Options& options, const Form& form) {
  const double areaWidth = static_cast<double>(form.dotsAcross) / kDotsPerInch;
  const double areaLength = static_cast<double>(form.pinRows) / kPinRowsPerInch;
  const Turn shown = exifTurn(picture.exifOrientation);

  Layout best = layout(picture, orientationTurn(options.orientation) * shown, options.scaling, areaWidth,
                       areaLength);
  if (options.orientation == Orientation::automatic) {
    const bool wide = swaps(shown) ? picture.height > picture.width : picture.width > picture.height;
    if (wide) {
      const Layout turned = layout(picture, kLeftTurn * shown, options.scaling, areaWidth, areaLength);
      if (turned.score > best.score * kBetterBy) best = turned;
    }
  }

  // Along each page axis: cells per inch, and the stored axis that runs on it.
  Placement p;
  const Turn& t = best.turn;
  p.xAlongRows = swaps(t);
  const double acrossCells = best.across * kDotsPerInch, downCells = best.down * kPinRowsPerInch;
  const double leftCell = best.left * kDotsPerInch, topCell = best.top * kPinRowsPerInch;
  const auto w = static_cast<double>(picture.width), h = static_cast<double>(picture.height);
  if (!p.xAlongRows) {
    p.xReversed = t[0][0] < 0;
    p.yReversed = t[1][1] < 0;
    p.xPitch = acrossCells / w, p.xStart = leftCell;
    p.yPitch = downCells / h, p.yStart = topCell;
  } else {
    p.xReversed = t[1][0] < 0;
    p.yReversed = t[0][1] < 0;
    p.xPitch = downCells / w, p.xStart = topCell;
    p.yPitch = acrossCells / h, p.yStart = leftCell;
  }
  return p;
}

AxisMap Placement::xMap(const PictureSize& stored, long long width, const Form& form) const {
  const double pitch = xPitch * static_cast<double>(stored.width) / static_cast<double>(width);
  return AxisMap(width, pitch, xStart, xReversed, xAlongRows ? form.pinRows : form.dotsAcross);
}

AxisMap Placement::yMap(const PictureSize& stored, long long height, const Form& form) const {
  const double pitch = yPitch * static_cast<double>(stored.height) / static_cast<double>(height);
  return AxisMap(height, pitch, yStart, yReversed, xAlongRows ? form.dotsAcross : form.pinRows);
}

}  // namespace bspp::picture
