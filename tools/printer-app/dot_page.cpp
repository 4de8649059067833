#include "dot_page.h"

#include <algorithm>

namespace bspp::printer_app {
namespace {

constexpr int kBandRows = 8;
constexpr int kMaxFeed = 85;  // the largest ESC A spacing a 9-pin printer takes

}  // namespace

DotPage::DotPage(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi)
    : width_(width),
      height_(height),
      columnOf_(width, -1),
      columnPixels_(kDotsAcross, 0),
      rowOf_(height, 0),
      ink_(static_cast<std::size_t>(kBandRows) * kDotsAcross, 0) {
  if (xdpi == 0) xdpi = 1;
  if (ydpi == 0) ydpi = 1;
  for (unsigned x = 0; x < width; ++x) {
    const auto dot = static_cast<long long>(x) * kDotsPerInchAcross / xdpi - kLeftMarginDots;
    if (dot >= 0 && dot < kDotsAcross) {
      columnOf_[x] = static_cast<int>(dot);
      ++columnPixels_[static_cast<std::size_t>(dot)];
    }
  }
  int rows = 0;
  for (unsigned y = 0; y < height; ++y) {
    rowOf_[y] = static_cast<int>(static_cast<long long>(y) * kRowsPerInch / ydpi);
    rows = rowOf_[y] + 1;
  }
  rowPixels_.assign(static_cast<std::size_t>(rows), 0);
  for (unsigned y = 0; y < height; ++y) ++rowPixels_[static_cast<std::size_t>(rowOf_[y])];
}

void DotPage::addLine(unsigned y, const unsigned char* bits) {
  if (y >= height_) return;
  const int row = rowOf_[y];
  if (row / kBandRows != band_) {
    flushBand();
    band_ = row / kBandRows;
  }
  std::uint16_t* ink = &ink_[static_cast<std::size_t>(row % kBandRows) * kDotsAcross];
  const unsigned bytes = (width_ + 7) / 8;
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned char b = bits[i];
    if (b == 0) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if ((b & (0x80u >> bit)) == 0) continue;
      const unsigned x = i * 8 + bit;
      if (x >= width_) break;
      const int dot = columnOf_[x];
      if (dot >= 0) ++ink[dot];
    }
  }
}

void DotPage::feedTo(int row) {
  int left = row - headRow_;
  while (left > 0) {
    const int step = std::min(left, kMaxFeed);
    stream_ += "\x1b" "A";
    stream_ += static_cast<char>(step);
    stream_ += "\r\n";
    left -= step;
  }
  headRow_ = row;
}

void DotPage::flushBand() {
  if (band_ < 0) return;
  std::string data(kDotsAcross, '\0');
  int used = 0;
  for (int dot = 0; dot < kDotsAcross; ++dot) {
    unsigned value = 0;
    for (int r = 0; r < kBandRows; ++r) {
      const auto row = static_cast<std::size_t>(band_ * kBandRows + r);
      if (row >= rowPixels_.size()) break;
      const unsigned black = ink_[static_cast<std::size_t>(r) * kDotsAcross + static_cast<std::size_t>(dot)];
      const unsigned covered = static_cast<unsigned>(columnPixels_[static_cast<std::size_t>(dot)]) * rowPixels_[row];
      if (black > 0 && 2 * black >= covered) value |= 0x80u >> r;
    }
    data[static_cast<std::size_t>(dot)] = static_cast<char>(value);
    if (value != 0) used = dot + 1;
  }
  std::fill(ink_.begin(), ink_.end(), std::uint16_t{0});
  if (used > 0) {
    feedTo(band_ * kBandRows);
    stream_ += "\x1b" "L";
    stream_ += static_cast<char>(used & 0xFF);
    stream_ += static_cast<char>(used >> 8);
    stream_.append(data, 0, static_cast<std::size_t>(used));
    stream_ += '\r';
  }
  band_ = -1;
}

std::string DotPage::finish() {
  flushBand();
  stream_ += "\x1b" "2\f";
  std::string page;
  page.swap(stream_);
  headRow_ = 0;
  return page;
}

}  // namespace bspp::printer_app
