// The glyph raster on Windows: GDI draws the characters with the 12-point
// Song font into a 32-bit DIB section whose memory is read directly.
//
// Each character's two bytes are read as code page 936 explicitly, whatever
// the system's ANSI code page, and drawn with the wide-character text
// function. A line's characters go out in one ExtTextOutW call with explicit
// advances, which paints exactly what one call per character at its own
// point would paint as long as no glyph's ink reaches into the cell of a
// later character (a later call would paint that cell's background over it).
// Lines where that happens are drawn one character at a time.
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "compose/glyph_surface.h"

namespace bspp {
namespace {

// HGDI_ERROR without the header's conversion of 0xFFFFFFFF, which changes
// sign in a 64-bit build.
const HGDIOBJ kGdiError = reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1));

constexpr int kRasterWidth = kLineDots;  // 960
constexpr int kRasterHeight = 24;
constexpr UINT kGb2312CodePage = 936;
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kInkColour = RGB(0, 0, 255);  // 0x00FF0000 as a COLORREF
// The same colour as it lies in a 32-bit DIB pixel (0x00RRGGBB).
constexpr std::uint32_t kInkPixel = 0x000000FF;
constexpr std::uint32_t kPixelColourMask = 0x00FFFFFF;
// "宋体"
constexpr wchar_t kSongFace[] = L"\u5B8B\u4F53";

// The screen's device context, or a memory context standing in for it where
// there is no screen.
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)), released_(dc_ != nullptr) {
    if (dc_ == nullptr) dc_ = ::CreateCompatibleDC(nullptr);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  ~ScreenDc() {
    if (dc_ == nullptr) return;
    if (released_) {
      ::ReleaseDC(nullptr, dc_);
    } else {
      ::DeleteDC(dc_);
    }
  }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  bool released_;  // true: from GetDC, given back with ReleaseDC
};

class MemoryDc {
 public:
  explicit MemoryDc(HDC compatibleWith) : dc_(::CreateCompatibleDC(compatibleWith)) {}
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  ~MemoryDc() {
    if (dc_ != nullptr) ::DeleteDC(dc_);
  }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A GDI object (bitmap, font) owned until destruction.
template <typename Handle>
class GdiObject {
 public:
  explicit GdiObject(Handle h) : h_(h) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() {
    if (h_ != nullptr) ::DeleteObject(h_);
  }
  Handle get() const { return h_; }

 private:
  Handle h_;
};

// Selects an object into a device context and puts the previous one back on
// destruction, so the object can then be deleted.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(dc != nullptr && object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_ != nullptr && previous_ != kGdiError) ::SelectObject(dc_, previous_);
  }
  bool active() const { return previous_ != nullptr && previous_ != kGdiError; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

HBITMAP createRaster(HDC dc, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kRasterWidth;
  info.bmiHeader.biHeight = -kRasterHeight;  // top-down: row 0 first in memory
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  *bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  if (bitmap != nullptr && *bits == nullptr) {
    ::DeleteObject(bitmap);
    bitmap = nullptr;
  }
  return bitmap;
}

// 12 points at the screen's vertical resolution, as a point-size font
// creation gives it: 16 pixels at 96 dpi.
HFONT createSongFont(HDC screen) {
  LOGFONTW font{};
  font.lfHeight = -::MulDiv(120, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
  font.lfCharSet = GB2312_CHARSET;
  // Glyph pixels must be exactly the text colour: no blending at the edges.
  font.lfQuality = NONANTIALIASED_QUALITY;
  static_assert(sizeof kSongFace <= sizeof font.lfFaceName, "face name fits");
  std::memcpy(font.lfFaceName, kSongFace, sizeof kSongFace);
  return ::CreateFontIndirectW(&font);
}

// The one UTF-16 character a code page 936 pair stands for, or 0 when the
// code page does not map the pair to exactly one character.
wchar_t decodePair(unsigned char lead, unsigned char trail) {
  const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  wchar_t wide[2] = {};
  const int n = ::MultiByteToWideChar(kGb2312CodePage, MB_ERR_INVALID_CHARS, bytes, 2, wide, 2);
  return n == 1 ? wide[0] : 0;
}

class GdiSurface final : public DrawSurface {
 public:
  GdiSurface()
      : memory_(screen_.get()),
        raster_(memory_.get() != nullptr ? createRaster(memory_.get(), &bits_) : nullptr),
        rasterSelection_(memory_.get(), raster_.get()),
        font_(screen_.get() != nullptr && memory_.get() != nullptr ? createSongFont(screen_.get())
                                                                   : nullptr),
        fontSelection_(memory_.get(), font_.get()) {
    if (!ready()) return;
    ::SetBkColor(memory_.get(), kBlack);
    ::SetBkMode(memory_.get(), OPAQUE);
    ::SetTextColor(memory_.get(), kInkColour);
    clear();
  }

  // False when the raster could not be had; the caller then uses a
  // BlankSurface instead.
  bool ready() const { return rasterSelection_.active(); }

  void clear() override {
    const RECT band{0, 0, kRasterWidth, kBandRows};
    ::SetBkColor(memory_.get(), kBlack);
    ::ExtTextOutW(memory_.get(), 0, 0, ETO_OPAQUE, &band, nullptr, 0, nullptr);
  }

  void draw(const GlyphCell* cells, std::size_t count) override {
    std::array<wchar_t, kMaxGlyphsPerLine> text{};
    std::array<int, kMaxGlyphsPerLine> xs{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const wchar_t ch = decodePair(cells[i].lead, cells[i].trail);
      if (ch == 0) continue;  // not a character of the code page: nothing drawn
      if (n == text.size()) break;
      text[n] = ch;
      xs[n] = cells[i].x;
      ++n;
    }
    if (n == 0) return;

    // Characters the font has no glyph for draw nothing either.
    std::array<WORD, kMaxGlyphsPerLine> glyphs{};
    if (::GetGlyphIndicesW(memory_.get(), text.data(), static_cast<int>(n), glyphs.data(),
                           GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR) {
      return;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (glyphs[i] == 0xFFFF) continue;
      text[kept] = text[i];
      glyphs[kept] = glyphs[i];
      xs[kept] = xs[i];
      ++kept;
    }
    if (kept == 0) return;

    std::array<ABC, kMaxGlyphsPerLine> abc{};
    if (::GetCharABCWidthsI(memory_.get(), 0, static_cast<UINT>(kept), glyphs.data(),
                            abc.data()) == FALSE ||
        inkReachesLaterCell(xs.data(), abc.data(), kept)) {
      for (std::size_t i = 0; i < kept; ++i) {
        ::ExtTextOutW(memory_.get(), xs[i], 0, 0, nullptr, &text[i], 1, nullptr);
      }
      return;
    }

    // One call for the line: each advance carries the pen to the next
    // character's own point; the last is the character's own advance.
    std::array<INT, kMaxGlyphsPerLine> advances{};
    for (std::size_t i = 0; i + 1 < kept; ++i) advances[i] = xs[i + 1] - xs[i];
    advances[kept - 1] = abc[kept - 1].abcA + static_cast<int>(abc[kept - 1].abcB) +
                         abc[kept - 1].abcC;
    ::ExtTextOutW(memory_.get(), xs[0], 0, 0, nullptr, text.data(), static_cast<UINT>(kept),
                  advances.data());
  }

  void readInk(InkColumns& ink) override {
    ink.fill(0);
    ::GdiFlush();
    const auto* pixels = static_cast<const std::uint32_t*>(bits_);
    for (int row = 0; row < kBandRows; ++row) {
      const std::uint32_t* line = pixels + static_cast<std::ptrdiff_t>(row) * kRasterWidth;
      const auto bit = static_cast<std::uint16_t>(1u << row);
      for (int x = 0; x < kRasterWidth; ++x) {
        if ((line[x] & kPixelColourMask) == kInkPixel) ink[static_cast<std::size_t>(x)] |= bit;
      }
    }
  }

 private:
  // True when some character's ink box overlaps the background cell of a
  // character drawn after it: one call per character would erase that ink,
  // one call per line would not.
  static bool inkReachesLaterCell(const int* xs, const ABC* abc, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const int inkLeft = xs[i] + abc[i].abcA;
      const int inkRight = inkLeft + static_cast<int>(abc[i].abcB);
      for (std::size_t j = i + 1; j < n; ++j) {
        const int cellLeft = xs[j];
        const int cellRight = cellLeft + abc[j].abcA + static_cast<int>(abc[j].abcB) + abc[j].abcC;
        if (inkLeft < cellRight && cellLeft < inkRight) return true;
      }
    }
    return false;
  }

  // Declared in the order of creation; destroyed in reverse: the font and
  // the raster are taken out of the memory context and deleted, then the
  // memory context is deleted and the screen's context released.
  ScreenDc screen_;
  MemoryDc memory_;
  void* bits_ = nullptr;
  GdiObject<HBITMAP> raster_;
  Selection rasterSelection_;
  GdiObject<HFONT> font_;
  Selection fontSelection_;
};

}  // namespace

std::unique_ptr<DrawSurface> prepareGlyphSurface() {
  auto surface = std::make_unique<GdiSurface>();
  if (!surface->ready()) return std::make_unique<BlankSurface>();
  return surface;
}

}  // namespace bspp
