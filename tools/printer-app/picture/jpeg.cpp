// JPEG through libjpeg(-turbo), decoded in grey and, when the picture is
// much finer than the dot grid, at a fraction of its size by the decoder's
// own DCT scaling. libjpeg reports a fault through error_exit, which must
// not return: it jumps back to the small function that made the call, which
// holds nothing with a destructor; the callbacks let no exception through.
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <string>
#include <vector>

#include "decoders.h"
#include "picture_limits.h"

namespace bspp::picture {
namespace {

constexpr std::size_t kMessageSize = 240;
constexpr std::size_t kInputChunk = 16 * 1024;
constexpr int kMaxScans = 500;  // a progressive picture has a dozen
constexpr unsigned kExifMarker = JPEG_APP0 + 1;

// Everything libjpeg's callbacks reach: plain data, a long jump may pass it.
struct JpegState {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  jpeg_source_mgr source;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  Input* input;
  JOCTET buffer[kInputChunk];
  char own[kMessageSize];        // our sentence, when we stopped libjpeg
  char libjpeg[JMSG_LENGTH_MAX];  // libjpeg's own message
};

JpegState& stateOf(j_common_ptr cinfo) { return *static_cast<JpegState*>(cinfo->client_data); }

[[noreturn]] void stop(JpegState& s, const char* sentence) {
  if (s.own[0] == '\0') std::snprintf(s.own, sizeof s.own, "%s", sentence);
  std::longjmp(s.jump, 1);
}

void onErrorExit(j_common_ptr cinfo) {
  JpegState& s = stateOf(cinfo);
  (*cinfo->err->format_message)(cinfo, s.libjpeg);
  std::longjmp(s.jump, 1);
}

void onMessage(j_common_ptr, int) {}  // warnings (damaged data is drawn as it decodes)

void onProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    stop(stateOf(cinfo), "the JPEG file has more scans than a picture needs");
  }
}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
  JpegState& s = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
  std::size_t got = 0;
  bool fault = false;
  try {
    got = s.input->read(s.buffer, sizeof s.buffer);
  } catch (const std::exception& e) {
    std::snprintf(s.own, sizeof s.own, "%s", e.what());
    fault = true;
  } catch (...) {
    fault = true;
  }
  if (fault) stop(s, "the JPEG file could not be read");
  if (got == 0) stop(s, "the JPEG file is cut short");
  s.source.next_input_byte = s.buffer;
  s.source.bytes_in_buffer = got;
  return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr& src = *cinfo->src;
  while (count > static_cast<long>(src.bytes_in_buffer)) {
    count -= static_cast<long>(src.bytes_in_buffer);
    fillInput(cinfo);
  }
  if (count > 0) {
    src.next_input_byte += count;
    src.bytes_in_buffer -= static_cast<std::size_t>(count);
  }
}

// The calls that may jump.
bool createDecompress(JpegState& s) {
  if (setjmp(s.jump)) return false;
  jpeg_CreateDecompress(&s.cinfo, JPEG_LIB_VERSION, sizeof s.cinfo);
  return true;
}

bool readHeader(JpegState& s, int& result) {
  if (setjmp(s.jump)) return false;
  jpeg_save_markers(&s.cinfo, static_cast<int>(kExifMarker), 0xFFFF);
  result = jpeg_read_header(&s.cinfo, TRUE);
  return true;
}

bool multipleScans(JpegState& s, bool& result) {
  if (setjmp(s.jump)) return false;
  result = jpeg_has_multiple_scans(&s.cinfo) != 0;
  return true;
}

bool startDecompress(JpegState& s) {
  if (setjmp(s.jump)) return false;
  jpeg_start_decompress(&s.cinfo);
  return true;
}

bool readScanline(JpegState& s, JSAMPROW row) {
  if (setjmp(s.jump)) return false;
  JSAMPROW rows[1] = {row};
  return jpeg_read_scanlines(&s.cinfo, rows, 1) == 1;
}

class JpegReader {
 public:
  explicit JpegReader(Input& input) : s_(std::make_unique<JpegState>()) {
    JpegState& s = *s_;
    s.input = &input;
    s.own[0] = s.libjpeg[0] = '\0';
    s.cinfo.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = onErrorExit;
    s.errors.emit_message = onMessage;
    s.cinfo.client_data = &s;
    if (!createDecompress(s)) fail();
    created_ = true;
    s.cinfo.client_data = &s;
    s.cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    s.source.init_source = initSource;
    s.source.fill_input_buffer = fillInput;
    s.source.skip_input_data = skipInput;
    s.source.resync_to_restart = jpeg_resync_to_restart;
    s.source.term_source = termSource;
    s.source.bytes_in_buffer = 0;
    s.source.next_input_byte = nullptr;
    s.cinfo.src = &s.source;
    s.progress.progress_monitor = onProgress;
    s.cinfo.progress = &s.progress;
  }
  ~JpegReader() {
    if (created_) jpeg_destroy_decompress(&s_->cinfo);
  }
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;

  JpegState& state() { return *s_; }
  jpeg_decompress_struct& cinfo() { return s_->cinfo; }

  [[noreturn]] void fail() const {
    if (s_->own[0] != '\0') throw Error(s_->own);
    throw Error(std::string("the JPEG file is damaged (") + s_->libjpeg + ")");
  }

 private:
  std::unique_ptr<JpegState> s_;
  bool created_ = false;
};

// The EXIF orientation (1-8) in an APP1 marker, or 1.
int exifOrientation(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (m->marker != kExifMarker || m->data_length < 14) continue;
    const JOCTET* d = m->data;
    const std::size_t n = m->data_length;
    if (std::string(reinterpret_cast<const char*>(d), 6) != std::string("Exif\0\0", 6)) continue;
    const JOCTET* tiff = d + 6;
    const std::size_t size = n - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) continue;
    auto u16 = [&](std::size_t at) -> unsigned {
      const unsigned first = tiff[at], second = tiff[at + 1];
      return little ? first | second << 8 : first << 8 | second;
    };
    auto u32 = [&](std::size_t at) -> std::size_t {
      return static_cast<std::size_t>(u16(little ? at + 2 : at)) << 16 | u16(little ? at : at + 2);
    };
    const std::size_t ifd = u32(4);
    if (ifd + 2 > size) continue;
    const unsigned entries = u16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
      const std::size_t e = ifd + 2 + 12 * static_cast<std::size_t>(i);
      if (e + 12 > size) break;
      if (u16(e) == 0x0112 && u16(e + 2) == 3) {  // Orientation, a SHORT
        const unsigned v = u16(e + 8);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
      }
    }
  }
  return 1;
}

// Bytes of DCT coefficients libjpeg holds for a picture of several scans.
double coefficientBytes(const jpeg_decompress_struct& c) {
  double bytes = 0;
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& k = c.comp_info[i];
    const double w = std::ceil(std::ceil(1.0 * c.image_width * k.h_samp_factor / c.max_h_samp_factor) / DCTSIZE);
    const double h = std::ceil(std::ceil(1.0 * c.image_height * k.v_samp_factor / c.max_v_samp_factor) / DCTSIZE);
    bytes += w * h * DCTSIZE2 * sizeof(JCOEF);
  }
  return bytes;
}

}  // namespace

void printJpeg(Input& input, Job& job) {
  JpegReader r(input);
  JpegState& s = r.state();
  jpeg_decompress_struct& c = r.cinfo();
  int header = 0;
  if (!readHeader(s, header)) r.fail();
  if (header != JPEG_HEADER_OK) throw Error("the JPEG file holds no picture");

  PictureSize size;
  size.width = c.image_width;
  size.height = c.image_height;
  checkSize("JPEG", size);
  bool held = false;
  if (!multipleScans(s, held)) r.fail();
  if (held && coefficientBytes(c) > static_cast<double>(kMaxHeldBytes)) {
    throw Error("the progressive JPEG picture is " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                  " pixels, more than " +
                std::to_string(kMaxHeldBytes >> 20) + " MiB to hold; save it as a baseline JPEG");
  }
  if (c.saw_JFIF_marker && c.X_density > 0 && c.Y_density > 0 && (c.density_unit == 1 || c.density_unit == 2)) {
    const double perInch = c.density_unit == 1 ? 1.0 : 2.54;
    size.xdpi = c.X_density * perInch;
    size.ydpi = c.Y_density * perInch;
  }
  size.exifOrientation = exifOrientation(c);

  // Grey straight from the luminance for YCbCr and grey pictures; CMYK is
  // read as it is and made grey here.
  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  if (cmyk) {
    c.out_color_space = JCS_CMYK;
  } else if (c.jpeg_color_space == JCS_GRAYSCALE || c.jpeg_color_space == JCS_YCbCr ||
             c.jpeg_color_space == JCS_RGB) {
    c.out_color_space = JCS_GRAYSCALE;
  } else {
    throw Error("the JPEG picture's colours (" + std::to_string(c.num_components) +
                " components) are not ones this printer reads");
  }

  // Decoded no finer than a pixel to a dot: the fewest eighths, a power of
  // two (the decoder's fast reductions), that still give every grid cell a
  // pixel of its own.
  const Placement placement = place(size, job.options, job.form);
  const double finest = std::max(placement.xPitch, placement.yPitch);
  unsigned eighths = 1;
  while (eighths < DCTSIZE && eighths < DCTSIZE * finest - 1e-9) eighths *= 2;
  c.scale_num = eighths;
  c.scale_denom = DCTSIZE;
  c.dct_method = JDCT_ISLOW;
  if (!startDecompress(s)) r.fail();

  const long long width = c.output_width, height = c.output_height;
  const int components = c.output_components;
  PicturePage page(job, size, placement, width, height, false);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * static_cast<std::size_t>(components));
  std::vector<std::uint8_t> dark(static_cast<std::size_t>(width));
  const bool inverted = c.saw_Adobe_marker;  // Adobe's CMYK is stored as 255 - ink
  for (long long y = 0; y < height; ++y) {
    if (!readScanline(s, row.data())) r.fail();
    if (!page.wants(y)) continue;
    if (!cmyk) {
      for (long long x = 0; x < width; ++x) dark[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(255 - row[static_cast<std::size_t>(x)]);
    } else {
      for (long long x = 0; x < width; ++x) {
        double light = 1;
        for (int k = 0; k < 4; ++k) {
          const unsigned v = row[static_cast<std::size_t>(x * 4 + k)];
          light *= (inverted ? v : 255 - v) / 255.0;
        }
        dark[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(std::lround(255 * (1 - light)));
      }
    }
    page.addRow(y, dark.data());
  }
  page.send();
}

}  // namespace bspp::picture
