// PNG through libpng, row by row. libpng reports a fault by a long jump out
// of the call that found it: every libpng call is made from a small function
// that sets the jump target and holds nothing with a destructor, and the
// callbacks let no exception through.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include "decoders.h"
#include "picture_limits.h"

namespace bspp::picture {
namespace {

constexpr std::size_t kMessageSize = 240;
constexpr png_alloc_size_t kMaxChunkBytes = 4u << 20;  // one ancillary chunk, inflated

// What libpng's callbacks reach: plain data only, a long jump may pass it.
struct PngIo {
  Input* input;
  char own[kMessageSize];     // our sentence, when we stopped libpng
  char libpng[kMessageSize];  // libpng's own message
};

void keep(char (&to)[kMessageSize], const char* message) {
  if (to[0] == '\0') std::snprintf(to, kMessageSize, "%s", message);
}

void onError(png_structp png, png_const_charp message) {
  keep(static_cast<PngIo*>(png_get_error_ptr(png))->libpng, message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp png, png_bytep data, std::size_t length) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  std::size_t got = 0;
  bool fault = false;
  try {
    got = io->input->read(data, length);
  } catch (const std::exception& e) {
    keep(io->own, e.what());
    fault = true;
  } catch (...) {
    keep(io->own, "the PNG file could not be read");
    fault = true;
  }
  if (!fault && got < length) keep(io->own, "the PNG file is cut short");
  if (fault || got < length) png_error(png, "read");
}

// The calls that may jump.
bool readInfo(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  return true;
}

bool updateInfo(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_update_info(png, info);
  return true;
}

bool readRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

bool readImage(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

class PngReader {
 public:
  explicit PngReader(Input& input) : io_{&input, {}, {}} {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io_, onError, onWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
      png_destroy_read_struct(&png_, &info_, nullptr);  // no destructor after a throw here
      throw Error("no memory to read the PNG file");
    }
    png_set_read_fn(png_, &io_, onRead);
    png_set_chunk_malloc_max(png_, kMaxChunkBytes);
  }
  ~PngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  png_structp png() { return png_; }
  png_infop info() { return info_; }

  // Throws the fault that stopped libpng.
  [[noreturn]] void fail() const {
    if (io_.own[0] != '\0') throw Error(io_.own);
    throw Error(std::string("the PNG file is damaged (") + io_.libpng + ")");
  }

 private:
  PngIo io_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// A row of 8-bit grey, grey+alpha, RGB or RGBA pixels as darkness, the
// picture laid on white paper.
void toDarkness(const std::uint8_t* row, int channels, long long width, std::uint8_t* dark) {
  for (long long x = 0; x < width; ++x) {
    const std::uint8_t* p = row + x * channels;
    const unsigned grey = channels >= 3 ? (77u * p[0] + 150u * p[1] + 29u * p[2] + 128u) >> 8 : p[0];
    unsigned d = 255 - grey;
    if (channels == 2 || channels == 4) d = (d * p[channels - 1] + 127) / 255;
    dark[x] = static_cast<std::uint8_t>(d);
  }
}

}  // namespace

void printPng(Input& input, Job& job) {
  png_byte signature[8];
  if (!input.readAll(signature, sizeof signature) || png_sig_cmp(signature, 0, sizeof signature) != 0) {
    throw Error("the document is not a PNG file");
  }
  PngReader r(input);
  png_structp png = r.png();
  png_infop info = r.info();
  png_set_sig_bytes(png, sizeof signature);
  if (!readInfo(png, info)) r.fail();

  PictureSize size;
  size.width = png_get_image_width(png, info);
  size.height = png_get_image_height(png, info);
  checkSize("PNG", size);
  png_uint_32 xres = 0, yres = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &xres, &yres, &unit) && unit == PNG_RESOLUTION_METER && xres > 0 && yres > 0) {
    size.xdpi = xres * 0.0254;
    size.ydpi = yres * 0.0254;
  }

  // Everything as 8-bit grey or RGB, with alpha where the picture has any.
  png_set_expand(png);
  png_set_strip_16(png);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  if (interlaced) png_set_interlace_handling(png);
  if (!updateInfo(png, info)) r.fail();
  const int channels = png_get_channels(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (channels < 1 || channels > 4 || rowBytes != static_cast<std::size_t>(size.width * channels)) {
    throw Error("the PNG picture's pixels are of a kind this printer does not read");
  }

  const Placement placement = place(size, job.options, job.form);
  PicturePage page(job, size, placement, size.width, size.height, true);
  std::vector<std::uint8_t> dark(static_cast<std::size_t>(size.width));
  if (!interlaced) {
    std::vector<std::uint8_t> row(rowBytes);
    for (long long y = 0; y < size.height; ++y) {
      if (!readRow(png, row.data())) r.fail();
      if (!page.wants(y)) continue;
      toDarkness(row.data(), channels, size.width, dark.data());
      page.addRow(y, dark.data());
    }
  } else {
    // The passes fill the whole picture: it is held, within a limit.
    const std::size_t held = rowBytes * static_cast<std::size_t>(size.height);
    if (held > kMaxHeldBytes) {
      throw Error("the interlaced PNG picture is " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                  " pixels, more than " +
                  std::to_string(kMaxHeldBytes >> 20) + " MiB to hold; save it without interlacing");
    }
    std::vector<std::uint8_t> pixels(held);
    std::vector<png_bytep> rows(static_cast<std::size_t>(size.height));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = pixels.data() + y * rowBytes;
    if (!readImage(png, rows.data())) r.fail();
    for (long long y = 0; y < size.height; ++y) {
      if (!page.wants(y)) continue;
      toDarkness(rows[static_cast<std::size_t>(y)], channels, size.width, dark.data());
      page.addRow(y, dark.data());
    }
  }
  page.send();
}

}  // namespace bspp::picture
