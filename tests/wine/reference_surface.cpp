#include "reference_surface.h"

#include <windows.h>

#include <cstring>

namespace bspp_test {
namespace {

class ReferenceSurface final : public bspp::DrawSurface {
 public:
  ReferenceSurface() {
    screen_ = ::GetDC(nullptr);
    if (screen_ == nullptr) return;
    memory_ = ::CreateCompatibleDC(screen_);
    raster_ = ::CreateCompatibleBitmap(screen_, bspp::kLineDots, 24);
    if (memory_ == nullptr || raster_ == nullptr) return;
    oldBitmap_ = ::SelectObject(memory_, raster_);
    LOGFONTW lf{};
    lf.lfHeight = -16;
    lf.lfCharSet = GB2312_CHARSET;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    std::memcpy(lf.lfFaceName, L"\u5B8B\u4F53", sizeof L"\u5B8B\u4F53");
    font_ = ::CreateFontIndirectW(&lf);
    if (font_ != nullptr) oldFont_ = ::SelectObject(memory_, font_);
    ::SetBkColor(memory_, RGB(0, 0, 0));
    ::SetTextColor(memory_, RGB(0, 0, 255));
    // The glyphs stand on raster row 14.
    ::SetTextAlign(memory_, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
  }
  ReferenceSurface(const ReferenceSurface&) = delete;
  ReferenceSurface& operator=(const ReferenceSurface&) = delete;
  ~ReferenceSurface() override {
    if (oldFont_ != nullptr) ::SelectObject(memory_, oldFont_);
    if (font_ != nullptr) ::DeleteObject(font_);
    if (oldBitmap_ != nullptr) ::SelectObject(memory_, oldBitmap_);
    if (raster_ != nullptr) ::DeleteObject(raster_);
    if (memory_ != nullptr) ::DeleteDC(memory_);
    if (screen_ != nullptr) ::ReleaseDC(nullptr, screen_);
  }

  bool ready() const { return oldBitmap_ != nullptr; }

  void clear() override {
    const RECT r{0, 0, bspp::kLineDots, bspp::kBandRows};
    ::SetBkColor(memory_, RGB(0, 0, 0));
    ::ExtTextOutW(memory_, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    width_ = 0;
  }

  void draw(const bspp::GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const char bytes[2] = {static_cast<char>(cells[i].lead), static_cast<char>(cells[i].trail)};
      wchar_t wide[2] = {};
      if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, wide, 2) != 1) continue;
      WORD glyph = 0;
      if (::GetGlyphIndicesW(memory_, wide, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR ||
          glyph == 0xFFFF) {
        continue;
      }
      ::ExtTextOutW(memory_, cells[i].x, 14, 0, nullptr, wide, 1, nullptr);
    }
    // The bands reach to the end of the last character's second column.
    if (count > 0) width_ = cells[count - 1].x - 5 + 2 * bspp::kDotsPerColumn;
  }

  void readInk(bspp::InkColumns& ink) override {
    ink.fill(0);
    const int width = width_ < bspp::kLineDots ? width_ : bspp::kLineDots;
    for (int x = 0; x < width; ++x) {
      for (int row = 0; row < bspp::kBandRows; ++row) {
        if (::GetPixel(memory_, x, row) == RGB(0, 0, 255)) {
          ink[static_cast<std::size_t>(x)] = static_cast<std::uint16_t>(
              ink[static_cast<std::size_t>(x)] | (1u << row));
        }
      }
    }
  }

 private:
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP raster_ = nullptr;
  HFONT font_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  HGDIOBJ oldFont_ = nullptr;
  int width_ = 0;
};

}  // namespace

std::unique_ptr<bspp::DrawSurface> makeReferenceSurface() {
  auto surface = std::make_unique<ReferenceSurface>();
  if (!surface->ready()) return nullptr;
  return surface;
}

}  // namespace bspp_test
