#include "png_writer.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <stdexcept>

#if BSPP_HAVE_LIBPNG
#include <png.h>
#endif

namespace bspp::preview {
namespace {

constexpr int kBitDepth = 2;  // four palette entries
constexpr unsigned kPixelsPerInchMetre = 14173;  // 360 dpi in pixels per metre
constexpr std::array<std::array<std::uint8_t, 3>, 4> kPalette{{
    {255, 255, 255},  // paper
    {24, 24, 48},     // ink: a dark ribbon
    {220, 30, 30},    // marker for bytes the printer does not understand
    {128, 128, 128},
}};

// One row packed at 2 bits a pixel, leftmost pixel in the high bits.
void packRow(const Page& page, int y, std::uint8_t* out) {
  const std::size_t bytes = (static_cast<std::size_t>(page.width) * kBitDepth + 7) / 8;
  std::fill(out, out + bytes, std::uint8_t{0});
  for (int x = 0; x < page.width; ++x) {
    const unsigned v = page.at(x, y) & 3u;
    out[x / 4] = static_cast<std::uint8_t>(out[x / 4] | (v << (6 - 2 * (x % 4))));
  }
}

std::size_t rowBytes(const Page& page) {
  return (static_cast<std::size_t>(page.width) * kBitDepth + 7) / 8;
}

void putU32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFFu));
}

std::uint32_t crc32(const std::string& data, std::size_t from) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i) {
    c = table[(c ^ static_cast<std::uint8_t>(data[i])) & 0xFFu] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void chunk(std::string& png, const char* type, const std::string& body) {
  putU32(png, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = png.size();
  png.append(type, 4);
  png += body;
  putU32(png, crc32(png, start));
}

}  // namespace

std::string encodePngUncompressed(const Page& page) {
  std::string png("\x89PNG\r\n\x1A\n", 8);

  std::string header;
  putU32(header, static_cast<std::uint32_t>(page.width));
  putU32(header, static_cast<std::uint32_t>(page.height));
  header += std::string{static_cast<char>(kBitDepth), 3, 0, 0, 0};  // palette, no interlace
  chunk(png, "IHDR", header);

  std::string palette;
  for (const auto& rgb : kPalette) {
    for (std::uint8_t v : rgb) palette.push_back(static_cast<char>(v));
  }
  chunk(png, "PLTE", palette);

  std::string phys;
  putU32(phys, kPixelsPerInchMetre);
  putU32(phys, kPixelsPerInchMetre);
  phys.push_back('\x01');
  chunk(png, "pHYs", phys);

  // Filter byte 0 and the packed pixels of every row, as stored deflate
  // blocks inside a zlib wrapper.
  std::string raw;
  const std::size_t stride = rowBytes(page);
  raw.reserve((stride + 1) * static_cast<std::size_t>(page.height));
  std::string row(stride, '\0');
  for (int y = 0; y < page.height; ++y) {
    packRow(page, y, reinterpret_cast<std::uint8_t*>(&row[0]));
    raw.push_back('\0');
    raw += row;
  }
  std::string z{'\x78', '\x01'};
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    const bool last = pos + n == raw.size();
    z.push_back(last ? '\x01' : '\x00');
    z.push_back(static_cast<char>(n & 0xFFu));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFFu));
    z.push_back(static_cast<char>((~n >> 8) & 0xFFu));
    z.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  std::uint32_t a = 1, b = 0;
  for (char ch : raw) {
    a = (a + static_cast<std::uint8_t>(ch)) % 65521u;
    b = (b + a) % 65521u;
  }
  putU32(z, (b << 16) | a);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

#if BSPP_HAVE_LIBPNG
namespace {

// libpng's write and info structures for one image.
class PngHandles {
 public:
  PngHandles() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  PngHandles(const PngHandles&) = delete;
  PngHandles& operator=(const PngHandles&) = delete;
  ~PngHandles() { png_destroy_write_struct(&png, &info); }

  png_structp png = nullptr;
  png_infop info = nullptr;
};

void onWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}

// Everything libpng does for one image; holds nothing that needs a
// destructor, since libpng leaves it by longjmp on an error.
void writeImage(png_structp png, png_infop info, const Page& page, std::uint8_t* row) {
  png_set_IHDR(png, info, static_cast<png_uint_32>(page.width),
               static_cast<png_uint_32>(page.height), kBitDepth, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[kPalette.size()];
  for (std::size_t i = 0; i < kPalette.size(); ++i) {
    palette[i] = png_color{kPalette[i][0], kPalette[i][1], kPalette[i][2]};
  }
  png_set_PLTE(png, info, palette, static_cast<int>(kPalette.size()));
  png_set_pHYs(png, info, kPixelsPerInchMetre, kPixelsPerInchMetre, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < page.height; ++y) {
    packRow(page, y, row);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
}

bool writeGuarded(png_structp png, png_infop info, const Page& page, std::uint8_t* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  writeImage(png, info, page, row);
  return true;
}

}  // namespace

std::string encodePng(const Page& page) {
  PngHandles handles;
  if (handles.info == nullptr) throw std::runtime_error("libpng: out of memory");
  std::string out;
  std::string row(rowBytes(page), '\0');
  png_set_write_fn(handles.png, &out, &onWrite, nullptr);
  if (!writeGuarded(handles.png, handles.info, page, reinterpret_cast<std::uint8_t*>(&row[0]))) {
    throw std::runtime_error("libpng could not encode the page");
  }
  return out;
}
#else
std::string encodePng(const Page& page) { return encodePngUncompressed(page); }
#endif

std::string pageFileName(const std::string& path, std::size_t number) {
  if (number <= 1) return path;
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  // A leading dot starts a hidden file's name, not an extension.
  const bool hasExtension = dot != std::string::npos && dot > nameStart;
  const std::string stem = hasExtension ? path.substr(0, dot) : path;
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  return stem + "-" + std::to_string(number) + extension;
}

}  // namespace bspp::preview
