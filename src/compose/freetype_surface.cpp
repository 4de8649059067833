// The glyph raster on Linux: FreeType draws the characters, fontconfig finds
// the font and iconv reads each character's two bytes as code page 936.
//
// The raster is kept as the ink it reports: one 16-bit column mask per dot
// column, bit r for row r. Drawing a character paints its cell black (clears
// the cell's bits) and then sets the bits of its monochrome glyph, which is
// what a GDI text call with an opaque background does to a pure-blue-on-black
// raster. Rows 16 and below are never read, so they are not kept.
//
// Every glyph stands on the baseline of the 16-pixel Song font, raster row
// 14 (its cell's top at 14 minus the face's ascent): the Song font's own
// characters then fill rows 0 to 15 as they always have, and faces laid out
// differently (a taller ascent, a deeper descent) keep their strokes on the
// rows that are printed instead of losing their top or bottom.
#include "compose/freetype_surface.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "compose/font_lookup.h"

namespace bspp {
namespace {

struct LibraryDeleter {
  void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceDeleter {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using Library = std::unique_ptr<FT_LibraryRec_, LibraryDeleter>;
using Face = std::unique_ptr<FT_FaceRec_, FaceDeleter>;

// A code page 936 to UTF-32LE converter.
class Decoder {
 public:
  Decoder() {
    for (const char* name : {"CP936", "GBK"}) {
      cd_ = iconv_open("UTF-32LE", name);
      if (valid()) break;
    }
  }
  ~Decoder() {
    if (valid()) iconv_close(cd_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  bool valid() const { return cd_ != invalid(); }

  // The one character the pair encodes, or 0 when the code page does not map
  // the pair to exactly one character (a lead byte with 00, a bad trail, a
  // pair that reads as two single-byte characters).
  char32_t decode(unsigned char lead, unsigned char trail) {
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0 || sizeof out - outLeft != 4) {
      return 0;
    }
    const auto* u = reinterpret_cast<const unsigned char*>(out);
    return static_cast<char32_t>(u[0] | (u[1] << 8) | (u[2] << 16) | (u[3] << 24));
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
  iconv_t cd_ = invalid();
};

// Opens `font` at 16 pixels with a Unicode character map. Null when the face
// cannot be opened, has no 16-pixel strike (bitmap fonts) or no Unicode map.
Face openFace(FT_Library lib, const FontFace& font) {
  FT_Face raw = nullptr;
  if (FT_New_Face(lib, font.path.c_str(), font.index, &raw) != 0) return nullptr;
  Face face(raw);
  if (FT_Select_Charmap(raw, FT_ENCODING_UNICODE) != 0) return nullptr;
  if (FT_IS_SCALABLE(raw)) {
    if (FT_Set_Pixel_Sizes(raw, 0, kGlyphPixels) != 0) return nullptr;
    return face;
  }
  // A bitmap font: its strike for 16 pixels per em, or else 16 pixels high.
  int chosen = -1;
  for (int i = 0; i < raw->num_fixed_sizes && chosen < 0; ++i) {
    if ((raw->available_sizes[i].y_ppem + 32) / 64 == kGlyphPixels) chosen = i;
  }
  for (int i = 0; i < raw->num_fixed_sizes && chosen < 0; ++i) {
    if (raw->available_sizes[i].height == kGlyphPixels) chosen = i;
  }
  if (chosen < 0 || FT_Select_Size(raw, chosen) != 0) return nullptr;
  return face;
}

// The raster row the glyphs' baseline lies on: the 16-pixel Song font's
// ascent, 14 pixels above a 2-pixel descent.
constexpr int kBaselineRow = 14;

// One candidate face, opened when a character first needs it.
struct FaceSlot {
  FontFace font;
  bool tried = false;
  Face face;
  std::uint16_t cellMask = 0;  // the rows of 0-15 its character cell covers
};

// A character as drawn: its cell's width and rows and its glyph's ink, as
// column masks relative to the cell's left edge.
struct Glyph {
  bool drawn = false;  // false: unmapped pair or no glyph, draws nothing
  int advance = 0;
  std::uint16_t cellMask = 0;
  int left = 0;        // first ink column, relative to the cell
  int width = 0;       // ink columns
  std::size_t offset = 0;  // into FreeTypeSurface::columns_
};

// True for a pair both of whose bytes lie in GB2312's range A1-FE: what the
// code page maps when it cannot be asked.
bool gb2312Range(unsigned char lead, unsigned char trail) {
  return lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE;
}

class FreeTypeSurface final : public DrawSurface {
 public:
  // `lib` may be null (FreeType could not be started) and `fonts` empty (no
  // Chinese font installed): the characters then count as missed.
  FreeTypeSurface(Library lib, const std::vector<FontFace>& fonts) : lib_(std::move(lib)) {
    slots_.reserve(fonts.size());
    for (const FontFace& font : fonts) slots_.push_back(FaceSlot{font, false, nullptr, 0});
  }

  void clear() override { ink_.fill(0); }

  void draw(const GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const Glyph& g = glyph(cells[i].lead, cells[i].trail);
      if (!g.drawn) continue;
      const int x = cells[i].x;
      // The cell, its advance wide, goes black first.
      const int cellEnd = std::min(x + g.advance, kLineDots);
      for (int c = std::max(x, 0); c < cellEnd; ++c) {
        ink_[static_cast<std::size_t>(c)] &= static_cast<std::uint16_t>(~g.cellMask);
      }
      const int inkBegin = std::max(x + g.left, 0);
      const int inkEnd = std::min(x + g.left + g.width, kLineDots);
      for (int c = inkBegin; c < inkEnd; ++c) {
        ink_[static_cast<std::size_t>(c)] |=
            columns_[g.offset + static_cast<std::size_t>(c - x - g.left)];
      }
    }
  }

  void readInk(InkColumns& ink) override { ink = ink_; }

  bool missedGlyph() const override { return missed_; }

 private:
  // Each pair is decoded and rendered once per call.
  const Glyph& glyph(unsigned char lead, unsigned char trail) {
    const auto key = static_cast<std::uint16_t>(lead << 8 | trail);
    auto found = cache_.find(key);
    if (found == cache_.end()) found = cache_.emplace(key, render(lead, trail)).first;
    return found->second;
  }

  // The face of candidate `i`, opened at its first use; null when it
  // cannot be opened.
  FT_Face faceAt(std::size_t i) {
    FaceSlot& slot = slots_[i];
    if (!slot.tried && lib_) {
      slot.tried = true;
      slot.face = openFace(lib_.get(), slot.font);
      if (slot.face) {
        // The cell a GDI text call paints behind the glyph: the face's
        // ascent above the baseline and its descent below.
        const FT_Size_Metrics& m = slot.face->size->metrics;
        const int ascent = static_cast<int>((m.ascender + 63) / 64);
        const int descent = static_cast<int>((-m.descender + 63) / 64);
        const int top = std::clamp(kBaselineRow - ascent, 0, kBandRows);
        const int end = std::clamp(kBaselineRow + descent, top, kBandRows);
        slot.cellMask = static_cast<std::uint16_t>(((1u << end) - 1u) & ~((1u << top) - 1u));
      }
    }
    return slot.face.get();
  }

  // The pair drawn with the first candidate face that has its character; a
  // character none of them has is missed.
  Glyph render(unsigned char lead, unsigned char trail) {
    Glyph g;
    if (!decoder_.valid()) {
      // Without the code page nothing can be drawn.
      missed_ = missed_ || gb2312Range(lead, trail);
      return g;
    }
    const char32_t ch = decoder_.decode(lead, trail);
    if (ch == 0) return g;  // not a character of the code page: nothing drawn
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      FT_Face face = faceAt(i);
      if (face == nullptr) continue;
      const FT_UInt index = FT_Get_Char_Index(face, ch);
      if (index != 0 && renderWith(face, index, g)) {
        g.cellMask = slots_[i].cellMask;
        return g;
      }
    }
    missed_ = true;
    return g;
  }

  bool renderWith(FT_Face face, FT_UInt index, Glyph& g) {
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return false;
    FT_GlyphSlot slot = face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) {
      return false;
    }
    g.drawn = true;
    g.advance = static_cast<int>((slot->advance.x + 32) / 64);
    g.left = slot->bitmap_left;
    g.offset = columns_.size();
    storeInk(slot->bitmap, kBaselineRow - slot->bitmap_top, g);
    return true;
  }

  // Turns the bitmap's rows into column masks; `top` is the raster row of the
  // bitmap's first row. Rows outside 0 to 15 are never read and are dropped.
  void storeInk(const FT_Bitmap& source, int top, Glyph& g) {
    const FT_Bitmap* bitmap = &source;
    FT_Bitmap converted;
    FT_Bitmap_Init(&converted);
    struct Release {
      FT_Library lib;
      FT_Bitmap* bitmap;
      ~Release() { FT_Bitmap_Done(lib, bitmap); }
    } release{lib_.get(), &converted};
    if (source.pixel_mode != FT_PIXEL_MODE_MONO && source.pixel_mode != FT_PIXEL_MODE_GRAY) {
      // Any other format (a colour or 2/4-bit strike): one byte a pixel.
      if (FT_Bitmap_Convert(lib_.get(), &source, &converted, 1) != 0) return;
      bitmap = &converted;
    }

    const int width = static_cast<int>(bitmap->width);
    const int rows = static_cast<int>(bitmap->rows);
    const bool mono = bitmap->pixel_mode == FT_PIXEL_MODE_MONO;
    const int levels = mono ? 2 : bitmap->num_grays;
    g.width = width;
    columns_.resize(g.offset + static_cast<std::size_t>(width), 0);
    // Only the bitmap rows that land on raster rows 0 to 15.
    const int firstRow = std::max(0, -top);
    const int endRow = std::min(rows, kBandRows - top);
    // A negative pitch stores the rows bottom first.
    const std::ptrdiff_t pitch = bitmap->pitch;
    const unsigned char* topLine = bitmap->buffer + (pitch < 0 ? -pitch * (rows - 1) : 0);
    for (int c = 0; c < width; ++c) {
      unsigned column = 0;
      for (int r = firstRow; r < endRow; ++r) {
        const unsigned char* line = topLine + r * pitch;
        // Mono: eight pixels a byte, the leftmost in bit 7. Grey: half
        // intensity or more counts as ink.
        const bool on = mono ? ((unsigned{line[c >> 3]} >> (7 - (c & 7))) & 1u) != 0
                             : line[c] * 2 >= levels - 1;
        column |= static_cast<unsigned>(on) << (top + r);
      }
      columns_[g.offset + static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(column);
    }
  }

  Library lib_;
  std::vector<FaceSlot> slots_;
  Decoder decoder_;
  bool missed_ = false;
  InkColumns ink_{};
  std::unordered_map<std::uint16_t, Glyph> cache_;
  std::vector<std::uint16_t> columns_;
};

}  // namespace

std::unique_ptr<DrawSurface> prepareFreeTypeSurface(const std::vector<FontFace>& fonts) {
  FT_Library rawLib = nullptr;
  Library lib(FT_Init_FreeType(&rawLib) == 0 ? rawLib : nullptr);
  return std::make_unique<FreeTypeSurface>(std::move(lib), fonts);
}

std::unique_ptr<DrawSurface> prepareGlyphSurface() {
  return prepareFreeTypeSurface(songFontCandidates());
}

}  // namespace bspp
