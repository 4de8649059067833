// The glyph raster on Windows: GDI draws the characters with the Song font
// at 16 pixels into a 32-bit DIB section whose memory is read directly.
//
// The font is 16 pixels whatever the screen's resolution: a host that
// declares itself DPI-aware on a 144-dpi display would otherwise get 24-pixel
// glyphs that the 16 band rows cut off. It is asked for with the GB2312
// character set, so that where "宋体" is not installed the font mapper picks
// a face that has Chinese characters. Each glyph stands on its baseline at
// raster row 14, where SimSun's 16-pixel cell (ascent 14, descent 2) puts it
// when the cell's top is row 0; faces with other ascents keep their ink on
// rows 0 to 15 that way too, instead of losing their top or bottom strokes.
// Where a face still draws a glyph past those rows, that glyph alone is moved
// up or down just enough to lie whole on them; one taller than the bands
// cannot be printed, and the job is then not printed either.
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

constexpr int kRasterWidth = kLineDots;  // 960
constexpr int kFontPixels = 16;
constexpr int kBaselineRow = 14;  // of the band rows
// The band rows lie in the middle of the raster, with room above and below
// to see ink that a face puts outside them.
constexpr int kMargin = 16;
constexpr int kRasterHeight = kMargin + kBandRows + kMargin;
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

// SelectObject's failure value, HGDI_ERROR, spelled without the sign
// conversion that the macro makes in 64-bit builds.
const HGDIOBJ kSelectFailed = reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1));

// Selects an object into a device context and puts the previous one back on
// destruction, so the object can then be deleted.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(dc != nullptr && object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_ != nullptr && previous_ != kSelectFailed) ::SelectObject(dc_, previous_);
  }
  bool active() const { return previous_ != nullptr && previous_ != kSelectFailed; }

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

// "宋体" with a 16-pixel em, in the GB2312 character set.
HFONT createSongFont() {
  LOGFONTW font{};
  font.lfHeight = -kFontPixels;
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

// The code page's user-defined areas map to private-use characters: a face
// may or may not have glyphs for them, and one without them is still a face
// that prints the job's Chinese text.
bool privateUse(wchar_t ch) { return ch >= 0xE000 && ch <= 0xF8FF; }

// True when the face selected into `dc` has Chinese characters: the font
// mapper gave it the GB2312 character set, or the face declares the
// simplified-Chinese code page. A Latin face the mapper fell back to has
// neither.
bool drawsChinese(HDC dc) {
  FONTSIGNATURE signature{};
  const int charset = ::GetTextCharsetInfo(dc, &signature, 0);
  return charset == GB2312_CHARSET || (signature.fsCsb[0] & FS_CHINESESIMP) != 0;
}

class GdiSurface final : public DrawSurface {
 public:
  GdiSurface()
      : memory_(screen_.get()),
        raster_(memory_.get() != nullptr ? createRaster(memory_.get(), &bits_) : nullptr),
        rasterSelection_(memory_.get(), raster_.get()),
        font_(memory_.get() != nullptr ? createSongFont() : nullptr),
        fontSelection_(memory_.get(), font_.get()) {
    if (!ready()) return;
    chinese_ = fontSelection_.active() && drawsChinese(memory_.get());
    TEXTMETRICW metrics{};
    if (fontSelection_.active() && ::GetTextMetricsW(memory_.get(), &metrics) != FALSE) {
      cellTop_ = kMargin + kBaselineRow - static_cast<int>(metrics.tmAscent);
    }
    ::SetBkColor(memory_.get(), kBlack);
    ::SetBkMode(memory_.get(), OPAQUE);
    ::SetTextColor(memory_.get(), kInkColour);
    clear();
  }

  // False when the raster could not be had; a surface that draws nothing
  // and fails every job with characters stands in then.
  bool ready() const { return rasterSelection_.active(); }

  // The rows above and below the bands only ever take ink from a glyph that
  // reaches past them; they are painted again only after that.
  void clear() override {
    const RECT rows = marginsInked_ ? RECT{0, 0, kRasterWidth, kRasterHeight}
                                    : RECT{0, kMargin, kRasterWidth, kMargin + kBandRows};
    ::SetBkColor(memory_.get(), kBlack);
    ::ExtTextOutW(memory_.get(), 0, 0, ETO_OPAQUE, &rows, nullptr, 0, nullptr);
    marginsInked_ = false;
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

    // Characters the font has no glyph for are not drawn; the job is then
    // not printed, unless they are private-use ones.
    std::array<WORD, kMaxGlyphsPerLine> glyphs{};
    if (!chinese_ || ::GetGlyphIndicesW(memory_.get(), text.data(), static_cast<int>(n),
                                        glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR) {
      glyphs.fill(0xFFFF);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (glyphs[i] == 0xFFFF) {
        if (!privateUse(text[i])) missed_ = true;
        continue;
      }
      text[kept] = text[i];
      glyphs[kept] = glyphs[i];
      xs[kept] = xs[i];
      ++kept;
    }
    if (kept == 0) return;

    drawLine(text.data(), glyphs.data(), xs.data(), kept);
    const int left = xs[0] > kMargin ? xs[0] - kMargin : 0;
    const int right = xs[kept - 1] + 3 * kMargin < kRasterWidth ? xs[kept - 1] + 3 * kMargin
                                                                 : kRasterWidth;
    if (!inkOutsideBands(left, right)) return;

    // Some glyph reaches past the bands: find each glyph's ink rows on its
    // own, move the ones that stick out, and draw the line again.
    std::array<int, kMaxGlyphsPerLine> shifts{};
    for (std::size_t i = 0; i < kept; ++i) shifts[i] = fittingShift(text[i], xs[i]);
    marginsInked_ = true;
    clear();
    for (std::size_t i = 0; i < kept; ++i) {
      ::ExtTextOutW(memory_.get(), xs[i], cellTop_ + shifts[i], 0, nullptr, &text[i], 1, nullptr);
    }
    // A glyph taller than the bands still sticks out: it cannot be printed.
    if (inkOutsideBands(left, right)) missed_ = true;
    marginsInked_ = true;
  }

  bool missedGlyph() const override { return missed_; }

  void readInk(InkColumns& ink) override {
    ink.fill(0);
    ::GdiFlush();
    const auto* pixels = static_cast<const std::uint32_t*>(bits_);
    for (int row = 0; row < kBandRows; ++row) {
      const std::uint32_t* line =
          pixels + static_cast<std::ptrdiff_t>(kMargin + row) * kRasterWidth;
      const auto bit = static_cast<std::uint16_t>(1u << row);
      for (int x = 0; x < kRasterWidth; ++x) {
        if ((line[x] & kPixelColourMask) == kInkPixel) ink[static_cast<std::size_t>(x)] |= bit;
      }
    }
  }

 private:
  // Draws a line's characters at their points, the cells' tops on cellTop_.
  void drawLine(const wchar_t* text, const WORD* glyphs, const int* xs, std::size_t n) {
    std::array<ABC, kMaxGlyphsPerLine> abc{};
    if (::GetCharABCWidthsI(memory_.get(), 0, static_cast<UINT>(n), const_cast<WORD*>(glyphs),
                            abc.data()) == FALSE ||
        inkReachesLaterCell(xs, abc.data(), n)) {
      for (std::size_t i = 0; i < n; ++i) {
        ::ExtTextOutW(memory_.get(), xs[i], cellTop_, 0, nullptr, &text[i], 1, nullptr);
      }
      return;
    }
    // One call for the line: each advance carries the pen to the next
    // character's own point; the last is the character's own advance.
    std::array<INT, kMaxGlyphsPerLine> advances{};
    for (std::size_t i = 0; i + 1 < n; ++i) advances[i] = xs[i + 1] - xs[i];
    advances[n - 1] = abc[n - 1].abcA + static_cast<int>(abc[n - 1].abcB) + abc[n - 1].abcC;
    ::ExtTextOutW(memory_.get(), xs[0], cellTop_, 0, nullptr, text, static_cast<UINT>(n),
                  advances.data());
  }

  bool inked(int x, int row) const {
    const auto* pixels = static_cast<const std::uint32_t*>(bits_);
    return (pixels[static_cast<std::ptrdiff_t>(row) * kRasterWidth + x] & kPixelColourMask) ==
           kInkPixel;
  }

  // True when a pixel of columns [left, right) outside the band rows is inked.
  // Only black and the ink colour are ever painted, so any colour is ink.
  bool inkOutsideBands(int left, int right) const {
    ::GdiFlush();
    const auto* pixels = static_cast<const std::uint32_t*>(bits_);
    std::uint32_t any = 0;
    for (int row = 0; row < kRasterHeight; ++row) {
      if (row == kMargin) row += kBandRows;
      const std::uint32_t* line = pixels + static_cast<std::ptrdiff_t>(row) * kRasterWidth;
      for (int x = left; x < right; ++x) any |= line[x];
    }
    return (any & kPixelColourMask) != 0;
  }

  // Rows to move one character by so that its ink lies on the band rows:
  // drawn alone, its ink rows are read from the raster. 0 when it fits or
  // cannot fit.
  int fittingShift(wchar_t ch, int x) {
    marginsInked_ = true;
    clear();
    ::ExtTextOutW(memory_.get(), x, cellTop_, 0, nullptr, &ch, 1, nullptr);
    ::GdiFlush();
    const int left = x - kMargin > 0 ? x - kMargin : 0;
    const int right = x + 3 * kMargin < kRasterWidth ? x + 3 * kMargin : kRasterWidth;
    int top = kRasterHeight, bottom = -1;
    for (int row = 0; row < kRasterHeight; ++row) {
      for (int col = left; col < right; ++col) {
        if (!inked(col, row)) continue;
        if (row < top) top = row;
        bottom = row;
        break;
      }
    }
    if (bottom < 0 || bottom - top + 1 > kBandRows) return 0;
    if (top < kMargin) return kMargin - top;
    if (bottom >= kMargin + kBandRows) return kMargin + kBandRows - 1 - bottom;
    return 0;
  }

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
  bool chinese_ = false;  // the selected face has Chinese characters
  int cellTop_ = kMargin;  // raster row of the cells' tops (SimSun's, until measured)
  bool missed_ = false;   // a character of the code page was not drawn
  bool marginsInked_ = true;  // rows outside the bands may hold ink
};

// Stands in where no raster can be had: nothing can be drawn, so a job with
// characters in it is not printed.
class NoRaster final : public DrawSurface {
 public:
  void clear() override {}
  void draw(const GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const wchar_t ch = decodePair(cells[i].lead, cells[i].trail);
      if (ch != 0 && !privateUse(ch)) missed_ = true;
    }
  }
  void readInk(InkColumns& ink) override { ink.fill(0); }
  bool missedGlyph() const override { return missed_; }

 private:
  bool missed_ = false;
};

}  // namespace

std::unique_ptr<DrawSurface> prepareGlyphSurface() {
  auto surface = std::make_unique<GdiSurface>();
  if (!surface->ready()) return std::make_unique<NoRaster>();
  return surface;
}

}  // namespace bspp
