// The decoders of the four formats, each drawing a document's pages onto
// the dot grid and printing them.
#pragma once

#include "dot_grid.h"
#include "escp_job.h"
#include "form.h"
#include "halftone.h"
#include "input.h"
#include "picture.h"
#include "placement.h"

namespace bspp::picture {

// What printing a document needs besides its bytes.
struct Job {
  const Options& options;
  const Form& form;
  JobWriter& out;
  Result& result;
};

// Refuses a PNG or JPEG (`format`) too large to print within the limits.
void checkSize(const char* format, const PictureSize& size);

// How a page is drawn for print-content-optimize: text and graphics as line
// art, photo for its tones; automatic draws as line art what was `drawn`
// (a PNG, a 1-bit raster page, a raster page of few grey levels).
Rendering renderingFor(Content content, bool drawn);

// Sends one page drawn on `grid` (counted in the result when it went out).
void sendPage(const Grid& grid, Rendering rendering, Job& job);

// The one page of a PNG or JPEG: its rows drawn where the placement puts
// them, for a picture decoded at `width` x `height`.
class PicturePage {
 public:
  // `drawn`: a picture drawn, not photographed (see renderingFor).
  PicturePage(Job& job, const PictureSize& stored, const Placement& placement, long long width,
              long long height, bool drawn);
  bool wants(long long y) const { return canvas_.wants(y); }
  void addRow(long long y, const std::uint8_t* darkness) { canvas_.addRow(y, darkness); }
  void send() {
    canvas_.finish();
    sendPage(grid_, rendering_, job_);
  }

 private:
  Job& job_;
  Rendering rendering_;
  Grid grid_;
  Canvas canvas_;
};

void printPng(Input& input, Job& job);
void printJpeg(Input& input, Job& job);
void printPwgRaster(Input& input, Job& job);
void printAppleRaster(Input& input, Job& job);

}  // namespace bspp::picture
