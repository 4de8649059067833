// PWG raster (image/pwg-raster) and Apple raster (image/urf): pages of
// PackBits lines, each page at its own resolution with pixel (0, 0) at the
// form's top-left corner.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compose/escp.h"
#include "decoders.h"
#include "picture_limits.h"

namespace bspp::picture {
namespace {

// How a raster's pixels hold ink.
enum class Pixels {
  black1,  // 1 bit, 1 = ink
  white1,  // 1 bit, 1 = paper
  grey8,   // 0 = black
  black8,  // 255 = black
  rgb24,   // sRGB
};

struct RasterPage {
  unsigned width = 0, height = 0;
  unsigned xdpi = 0, ydpi = 0;
  unsigned bitsPerPixel = 0;
  Pixels pixels = Pixels::grey8;
  std::size_t bytesPerLine = 0;
  unsigned unit = 1;            // bytes a PackBits count counts
  std::uint8_t clearByte = 0;   // what "clear to the end of the line" fills with
};

std::uint32_t bigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A page of this many grey levels or fewer is drawn (text, rules, charts),
// not photographed.
constexpr int kFewLevels = 32;

std::string pageName(int page) { return "page " + std::to_string(page) + " of the raster"; }

const char* const kTakes = "this printer takes 1-bit black, 8-bit grey or 24-bit RGB";

// The checks every page passes before anything of its size is allocated.
void checkPage(const RasterPage& p, int page) {
  std::string offered;
  for (unsigned dpi : kRasterResolutions) offered += (offered.empty() ? "" : " or ") + std::to_string(dpi);
  for (unsigned dpi : {p.xdpi, p.ydpi}) {
    if (std::find(kRasterResolutions.begin(), kRasterResolutions.end(), dpi) == kRasterResolutions.end()) {
      throw Error(pageName(page) + " is at " + std::to_string(p.xdpi) + " x " + std::to_string(p.ydpi) +
                  " dpi: " + std::to_string(dpi) + " dpi is not a resolution this printer offers (" + offered +
                  ")");
    }
  }
  const auto widest = static_cast<unsigned>(std::floor(kWidestFormInches * p.xdpi));
  if (p.width > widest) {
    throw Error(pageName(page) + " is " + std::to_string(p.width) + " pixels wide, more than the " +
                std::to_string(widest) + " of the widest form (" + inchesText(kWidestFormInches) + " at " +
                std::to_string(p.xdpi) + " dpi)");
  }
  if (p.width == 0 || p.height == 0) {
    throw Error(pageName(page) + " is empty (" + std::to_string(p.width) + " x " + std::to_string(p.height) +
                " pixels)");
  }
}

// The fill of "clear to the end of the line" (PackBits count 128): paper.
std::uint8_t paperByte(Pixels pixels) {
  return pixels == Pixels::black1 || pixels == Pixels::black8 ? 0x00 : 0xFF;
}

// One line record's pixels (after its repeat count). False when the
// document ends inside it. Counts past the line's end are cut at it, as
// CUPS reads them.
bool readLine(Input& in, const RasterPage& p, std::uint8_t* line) {
  std::size_t at = 0;
  while (at < p.bytesPerLine) {
    const int code = in.byte();
    if (code < 0) return false;
    const std::size_t left = p.bytesPerLine - at;
    if (code == 128) {
      std::memset(line + at, p.clearByte, left);
      at = p.bytesPerLine;
    } else if (code > 128) {
      const std::size_t n = static_cast<std::size_t>(257 - code) * p.unit;
      const std::size_t take = std::min(n, left);
      if (!in.readAll(line + at, take)) return false;
      at += take;
    } else {
      const std::size_t n = std::min(static_cast<std::size_t>(code + 1) * p.unit, left);
      if (n < p.unit) return false;  // a line that does not end on a pixel
      if (!in.readAll(line + at, p.unit)) return false;
      if (p.unit == 1) {
        std::memset(line + at + 1, line[at], n - 1);
      } else {
        for (std::size_t k = p.unit; k < n; ++k) line[at + k] = line[at + k - p.unit];
      }
      at += n;
    }
  }
  return true;
}

// A line's pixels as darkness, 0 (paper) to 255 (black).
void toDarkness(const RasterPage& p, const std::uint8_t* line, std::uint8_t* dark) {
  const std::size_t width = p.width;  // (a local: the loops vectorise)
  switch (p.pixels) {
    case Pixels::black1:
    case Pixels::white1: {
      const std::uint8_t ink = p.pixels == Pixels::black1 ? 0x80 : 0x00;
      for (std::size_t x = 0; x < width; ++x) {
        const bool bit = (line[x / 8] << (x % 8)) & 0x80;
        dark[x] = (bit ? 0x80 : 0x00) == ink ? 255 : 0;
      }
      break;
    }
    case Pixels::grey8:
      for (std::size_t x = 0; x < width; ++x) dark[x] = static_cast<std::uint8_t>(255 - line[x]);
      break;
    case Pixels::black8: std::memcpy(dark, line, width); break;
    case Pixels::rgb24:
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* px = line + 3 * x;
        const unsigned luma = (77u * px[0] + 150u * px[1] + 29u * px[2] + 128u) >> 8;
        dark[x] = static_cast<std::uint8_t>(255 - luma);
      }
      break;
  }
}

// Reads one page's lines and prints it, drawn on `grid` (the document's,
// cleared for each page).
void printPage(Input& in, const RasterPage& p, int page, Job& job, Grid& grid, std::string& cutPages) {
  const Form& form = job.form;
  grid.clear();
  const AxisMap across(p.width, static_cast<double>(kDotsPerInch) / p.xdpi, -kLeftMarginDots, false,
                       form.dotsAcross);
  const AxisMap down(p.height, static_cast<double>(kPinRowsPerInch) / p.ydpi, 0, false, form.pinRows);
  // Line art may be found on any page but a photograph (print-content-
  // optimize=photo, or a page of many grey levels when it is automatic).
  const Content content = job.options.content;
  bool keepingPeaks = renderingFor(content, true) == Rendering::lineArt;
  Canvas canvas(grid, p.width, across, down, false, keepingPeaks);
  canvas.countLevels(kFewLevels);

  std::vector<std::uint8_t> line(p.bytesPerLine), dark(p.width);
  bool inkCut = false;
  // The lines from here on are past the form: read and dropped.
  unsigned onForm = 0;
  while (onForm < p.height && canvas.wants(onForm)) ++onForm;
  for (unsigned y = 0; y < p.height;) {
    const int repeat = in.byte();
    if (repeat < 0 || !readLine(in, p, line.data())) {
      throw Error("the raster ends inside page " + std::to_string(page) + ", at line " + std::to_string(y + 1) +
                  " of " + std::to_string(p.height));
    }
    const unsigned rows = std::min<unsigned>(static_cast<unsigned>(repeat) + 1, p.height - y);
    if (y + rows > onForm && inkCut) {
      y += rows;
      continue;
    }
    toDarkness(p, line.data(), dark.data());
    if (y < onForm) canvas.addRows(y, std::min(y + rows, onForm) - y, dark.data());
    if (keepingPeaks && content == Content::automatic && p.bitsPerPixel > 1 && canvas.manyLevels()) {
      // A photograph: it will be printed for its tones.
      canvas.dropPeaks();
      keepingPeaks = false;
    }
    if (y + rows > onForm) inkCut = std::any_of(dark.begin(), dark.end(), [](std::uint8_t d) { return d != 0; });
    y += rows;
  }
  if (inkCut) cutPages += (cutPages.empty() ? "" : ", ") + std::to_string(page);

  canvas.finish();
  const bool drawn = p.bitsPerPixel == 1 || !canvas.manyLevels();
  sendPage(grid, renderingFor(content, drawn), job);
}

void noteCut(const std::string& pages, Job& job) {
  if (pages.empty()) return;
  const bool one = pages.find(',') == std::string::npos;
  job.result.note = (one ? "page " : "pages ") + pages + (one ? " was" : " were") +
                    " longer than the form and cut at " +
                    inchesText(job.form.lengthUnits / kUnitsPerInch);
}

// The pages of a raster document after its file header: each a header of
// `headerBytes` that `read` makes a page of (checked with checkPage before
// anything else), then its lines.
template <std::size_t headerBytes, typename Read>
void printPages(Input& in, Job& job, const char* kind, Read read) {
  std::string cut;
  Grid grid(job.form.dotsAcross, job.form.pinRows);
  for (int page = 1; job.out.open(); ++page) {
    std::uint8_t h[headerBytes];
    const std::size_t got = in.read(h, sizeof h);
    if (got == 0 && page > 1) break;
    if (got < sizeof h) {
      throw Error(page == 1 ? std::string("the ") + kind + " has no page"
                            : std::string("the ") + kind + " ends inside the header of page " + std::to_string(page));
    }
    RasterPage p = read(h, page);
    p.clearByte = paperByte(p.pixels);
    printPage(in, p, page, job, grid, cut);
  }
  noteCut(cut, job);
}

}  // namespace

void printPwgRaster(Input& in, Job& job) {
  char sync[4];
  if (!in.readAll(sync, sizeof sync) || std::memcmp(sync, "RaS2", 4) != 0) {
    throw Error("the document is not a PWG raster (it does not start with RaS2)");
  }
  printPages<1796>(in, job, "PWG raster", [](const std::uint8_t* h, int page) {
    RasterPage p;
    p.xdpi = bigEndian(h + 276);
    p.ydpi = bigEndian(h + 280);
    p.width = bigEndian(h + 372);
    p.height = bigEndian(h + 376);
    const std::uint32_t bitsPerColor = bigEndian(h + 384);
    p.bitsPerPixel = bigEndian(h + 388);
    const std::uint32_t bytesPerLine = bigEndian(h + 392);
    const std::uint32_t order = bigEndian(h + 396);
    const std::uint32_t space = bigEndian(h + 400);
    checkPage(p, page);

    // Colour spaces (CUPS's numbers): 0 W and 18 sGray (0 = black), 3 K
    // (black ink), 1 RGB, 19 sRGB, 20 Adobe RGB.
    const bool grey = space == 0 || space == 18, black = space == 3;
    const bool rgb = space == 1 || space == 19 || space == 20;
    if (p.bitsPerPixel == 1 && bitsPerColor == 1 && (grey || black)) {
      p.pixels = black ? Pixels::black1 : Pixels::white1;
    } else if (p.bitsPerPixel == 8 && bitsPerColor == 8 && (grey || black)) {
      p.pixels = black ? Pixels::black8 : Pixels::grey8;
    } else if (p.bitsPerPixel == 24 && bitsPerColor == 8 && rgb && order == 0) {
      p.pixels = Pixels::rgb24;
      p.unit = 3;
    } else {
      throw Error(pageName(page) + " has " + std::to_string(p.bitsPerPixel) + " bits per pixel in colour space " +
                  std::to_string(space) + "; " + kTakes);
    }
    p.bytesPerLine = (static_cast<std::size_t>(p.width) * p.bitsPerPixel + 7) / 8;
    if (bytesPerLine != p.bytesPerLine) {
      throw Error(pageName(page) + " gives " + std::to_string(bytesPerLine) + " bytes a line for " +
                  std::to_string(p.width) + " pixels of " + std::to_string(p.bitsPerPixel) + " bits");
    }
    return p;
  });
}

void printAppleRaster(Input& in, Job& job) {
  char magic[12];
  if (!in.readAll(magic, sizeof magic) || std::memcmp(magic, "UNIRAST", 8) != 0) {
    throw Error("the document is not an Apple raster (it does not start with UNIRAST)");
  }
  printPages<32>(in, job, "Apple raster", [](const std::uint8_t* h, int page) {
    RasterPage p;
    p.bitsPerPixel = h[0];
    p.width = bigEndian(h + 12);
    p.height = bigEndian(h + 16);
    p.xdpi = p.ydpi = bigEndian(h + 20);
    checkPage(p, page);
    // Colour spaces: 0 sGray, 4 device grey (0 = black); 1 sRGB, 3 Adobe
    // RGB, 5 device RGB.
    const unsigned space = h[1];
    if (p.bitsPerPixel == 8 && (space == 0 || space == 4)) {
      p.pixels = Pixels::grey8;
    } else if (p.bitsPerPixel == 24 && (space == 1 || space == 3 || space == 5)) {
      p.pixels = Pixels::rgb24;
      p.unit = 3;
    } else {
      throw Error(pageName(page) + " has " + std::to_string(p.bitsPerPixel) + " bits per pixel in colour space " +
                  std::to_string(space) + "; " + kTakes);
    }
    p.bytesPerLine = static_cast<std::size_t>(p.width) * p.unit;
    return p;
  });
}

}  // namespace bspp::picture
