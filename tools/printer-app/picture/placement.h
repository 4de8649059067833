// Where a PNG or JPEG goes on the page: its size (print-scaling), its turn
// (orientation-requested, and the picture's own EXIF orientation), and the
// grid cells each of its pixels covers.
#pragma once

#include "dot_grid.h"
#include "form.h"
#include "picture.h"

namespace bspp::picture {

// A picture as its header describes it.
struct PictureSize {
  long long width = 0, height = 0;  // pixels as stored
  double xdpi = 0, ydpi = 0;        // 0: the picture gives no resolution
  int exifOrientation = 1;          // 1-8, how the stored pixels are shown
};

// The picture on the page. The stored picture's x axis runs along the
// page's pin rows when `xAlongRows` (a quarter turn), else across.
struct Placement {
  bool xAlongRows = false;
  bool xReversed = false, yReversed = false;
  // Grid cells per stored pixel along x and y, and where the picture's
  // first cell edge is along the grid axis each one runs on.
  double xPitch = 1, yPitch = 1;
  double xStart = 0, yStart = 0;

  // Axis maps for the picture decoded at `width` x `height` (a JPEG may be
  // decoded smaller than it is stored).
  AxisMap xMap(const PictureSize& stored, long long width, const Form& form) const;
  AxisMap yMap(const PictureSize& stored, long long height, const Form& form) const;
};

Placement place(const PictureSize& picture, const Options& options, const Form& form);

}  // namespace bspp::picture
