// The picture path's own share of a picture job: bspp::picture::printPicture
// from the document in memory to the last byte of the stream, for the jobs
// the printer application is timed with end to end (bench/printer-app/
// app_bench.py): a one-page 1600 x 1200 JPEG photograph and a four-page PWG
// raster at 360 dpi, of a printed document and of a full-page photograph.
//
//   build/linux/bench/printer-app/bspp_picture_bench
//       --benchmark_repetitions=11 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

namespace {

namespace pic = bspp::picture;

// A photograph-like picture: smooth light, a few hard shapes, fine grain.
std::uint8_t photoPixel(int x, int y, int w, int h) {
  const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
  double g = 128 + 90 * std::sin(6 * u + 2 * v) * std::cos(4 * v);
  if (std::hypot(u - 0.6, v - 0.4) < 0.15) g = 40;
  if (u > 0.1 && u < 0.3 && v > 0.6 && v < 0.9) g = 230;
  g += ((x * 7919 + y * 104729) % 23) - 11;
  return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, g))));
}

std::string photoJpeg(int w, int h) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_CreateCompress(&c, JPEG_LIB_VERSION, sizeof c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t g = photoPixel(x, y, w, h);
      const auto i = static_cast<std::size_t>(x) * 3;
      row[i] = g;
      row[i + 1] = static_cast<JSAMPLE>(g / 2 + 60);
      row[i + 2] = static_cast<JSAMPLE>(255 - g / 2);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string jpeg(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return jpeg;
}

void put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}

// PackBits lines as PWG raster has them (repeat count, runs and literals).
void packLine(std::string& out, const std::vector<std::uint8_t>& row, int repeat) {
  out += static_cast<char>(repeat);
  std::size_t i = 0;
  while (i < row.size()) {
    std::size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run > 1 || i + 1 == row.size()) {
      out += static_cast<char>(run - 1);
      out += static_cast<char>(row[i]);
      i += run;
      continue;
    }
    std::size_t lit = 1;
    while (i + lit < row.size() && lit < 128 && (i + lit + 1 >= row.size() || row[i + lit + 1] != row[i + lit])) ++lit;
    if (lit == 1) {
      out += '\0';
      out += static_cast<char>(row[i]);
    } else {
      out += static_cast<char>(257 - lit);
      out.append(reinterpret_cast<const char*>(&row[i]), lit);
    }
    i += lit;
  }
}

// A printed document's pixel at 360 dpi: lines of text (glyphs of 36
// pixels, each a few strokes 5 to 8 pixels wide), rules, a shaded box.
std::uint8_t documentPixel(int x, int y) {
  if (y > 2000 && y < 2300 && x > 1800 && x < 2500) return 200;  // a shaded box
  if (y < 360 || y >= 3600 || x < 360 || x >= 2700) return 255;
  const int line = (y - 360) % 120, glyph = (x - 360) / 36, at = (x - 360) % 36;
  if (line == 100 && y > 3000) return 0;  // rules under the last lines
  if (line >= 50 || glyph % 9 == 8) return 255;  // between lines, between words
  const unsigned shape = static_cast<unsigned>(glyph) * 2654435761u + static_cast<unsigned>(y - line) * 40503u;
  const bool across = (static_cast<unsigned>(line / 10) + shape) % 3 == 0 && line % 10 < 6;  // a horizontal stroke
  const bool down = at >= 4 + static_cast<int>(shape % 20) && at < 10 + static_cast<int>(shape % 20);
  return across || down ? 0 : 255;
}

// Four letter pages of 8-bit grey at 360 dpi, a printed document or a
// photograph filling the page.
std::string pwgPages(bool photo) {
  constexpr int dpi = 360, w = 3060, h = 3960;
  std::string doc = "RaS2";
  for (int page = 0; page < 4; ++page) {
    std::string header(1796, '\0');
    header.replace(0, 9, "PwgRaster");
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {276, dpi}, {280, dpi}, {352, 612}, {356, 792}, {372, w}, {376, h}, {384, 8}, {388, 8}, {392, w},
        {400, 18},  {420, 1}};
    for (const auto& [at, v] : fields) put32(header, at, v);
    doc += header;
    std::vector<std::uint8_t> row(w), last;
    int repeat = -1;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        row[static_cast<std::size_t>(x)] = photo ? photoPixel(x, y, w, h) : documentPixel(x, y);
      }
      if (row == last && repeat < 255) {
        ++repeat;
        continue;
      }
      if (repeat >= 0) packLine(doc, last, repeat);
      last = row;
      repeat = 0;
    }
    packLine(doc, last, repeat);
  }
  return doc;
}

void run(benchmark::State& state, pic::Format format, const std::string& document) {
  std::size_t bytes = 0;
  const pic::Sink sink = [&bytes](std::string_view s) {
    bytes += s.size();
    return true;
  };
  for (auto _ : state) {
    pic::MemoryReader reader(document);
    const pic::Result r = pic::printPicture(format, reader, pic::Options{}, sink);
    benchmark::DoNotOptimize(r.pages);
  }
  state.counters["stream_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

void jpegPhoto(benchmark::State& state) {
  static const std::string jpeg = photoJpeg(1600, 1200);
  run(state, pic::Format::jpeg, jpeg);
}

void pwgDocument(benchmark::State& state) {
  static const std::string pwg = pwgPages(false);
  run(state, pic::Format::pwgRaster, pwg);
}

void pwgPhoto(benchmark::State& state) {
  static const std::string pwg = pwgPages(true);
  run(state, pic::Format::pwgRaster, pwg);
}

BENCHMARK(jpegPhoto)->Name("jpeg_1600x1200_photo")->Unit(benchmark::kMillisecond);
BENCHMARK(pwgDocument)->Name("pwg_360dpi_4_pages_document")->Unit(benchmark::kMillisecond);
BENCHMARK(pwgPhoto)->Name("pwg_360dpi_4_pages_photo")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
