// PNG output: both encoders give the page back pixel for pixel, and pages
// get their file names.
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "preview/png_writer.h"
#include "preview_support.h"

namespace bspp::preview {
namespace {

struct ReadState {
  const std::string* data;
  std::size_t pos;
};

void readFn(png_structp png, png_bytep out, png_size_t n) {
  auto* st = static_cast<ReadState*>(png_get_io_ptr(png));
  if (st->pos + n > st->data->size()) png_error(png, "short");
  std::memcpy(out, st->data->data() + st->pos, n);
  st->pos += n;
}

// Decodes a palette PNG back to one palette index per pixel; libpng reads
// it, so a malformed file fails the test.
bool decodeInto(const std::string& file, Page& page, png_structp png, png_infop info) {
  ReadState st{&file, 0};
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &st, readFn);
  png_read_info(png, info);
  png_set_packing(png);
  page.width = static_cast<int>(png_get_image_width(png, info));
  page.height = static_cast<int>(png_get_image_height(png, info));
  page.pixels.assign(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height), 0);
  for (int y = 0; y < page.height; ++y) {
    png_read_row(png, &page.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(page.width)], nullptr);
  }
  png_read_end(png, nullptr);
  return true;
}

Page decode(const std::string& file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Page page;
  const bool ok = decodeInto(file, page, png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  EXPECT_TRUE(ok);
  return page;
}

TEST(Png, BothEncodersKeepEveryPixel) {
  Page page;
  page.width = 37;  // not a multiple of four pixels a byte
  page.height = 5;
  for (int i = 0; i < page.width * page.height; ++i) {
    page.pixels.push_back(static_cast<std::uint8_t>((i * 7 + i / 3) % 3));
  }
  for (const std::string& file : {encodePng(page), encodePngUncompressed(page)}) {
    const Page back = decode(file);
    EXPECT_EQ(back.width, page.width);
    EXPECT_EQ(back.height, page.height);
    EXPECT_EQ(back.pixels, page.pixels);
  }
}

TEST(Png, UncompressedEncoderSplitsLargeImagesIntoBlocks) {
  Page page = renderAll("ABC").pages[0];  // 3060 x 3960: about 3 MB of rows
  EXPECT_EQ(decode(encodePngUncompressed(page)).pixels, page.pixels);
}

TEST(Png, PagesAfterTheFirstGetANumberBeforeTheExtension) {
  EXPECT_EQ(pageFileName("out.png", 1), "out.png");
  EXPECT_EQ(pageFileName("out.png", 2), "out-2.png");
  EXPECT_EQ(pageFileName("out.png", 3), "out-3.png");
  EXPECT_EQ(pageFileName("dir.v1/page", 2), "dir.v1/page-2");
  EXPECT_EQ(pageFileName(".hidden", 2), ".hidden-2");
}

}  // namespace
}  // namespace bspp::preview
