// Finds the installed fonts that can stand in for the 16-pixel Song font.
#pragma once

#include <string>
#include <vector>

namespace bspp {

// One face of a font file, as fontconfig reports it.
struct FontFace {
  std::string path;
  int index = 0;         // face index inside the file (collections)
  bool scalable = true;  // false: a bitmap font with a 16-pixel strike
};

// The pixel size the glyphs are drawn at: 12 points at 96 dots per inch.
inline constexpr int kGlyphPixels = 16;

// Faces to try, best first:
//   1. the family "宋体" / "SimSun" itself, when it is installed;
//   2. bitmap fonts covering simplified Chinese with a 16-pixel strike,
//      Song (Ming) styles first;
//   3. scalable fonts covering simplified Chinese, Song styles first.
// Only fonts fontconfig really lists under these properties are returned, never
// a substitute it would pick for a missing family. Empty when there is none.
std::vector<FontFace> songFontCandidates();

}  // namespace bspp
