#include "compose/font_lookup.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <tuple>

namespace bspp {
namespace {

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct ObjectSetDeleter {
  void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
struct FontSetDeleter {
  void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;
using ObjectSet = std::unique_ptr<FcObjectSet, ObjectSetDeleter>;
using FontSet = std::unique_ptr<FcFontSet, FontSetDeleter>;

// Family names compare as fontconfig compares them: case and blanks ignored.
std::string foldName(const char* name) {
  std::string folded;
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == ' ') continue;
    folded.push_back(c < 0x80 ? static_cast<char>(std::tolower(c)) : static_cast<char>(c));
  }
  return folded;
}

std::vector<std::string> families(FcPattern* font) {
  std::vector<std::string> names;
  FcChar8* name = nullptr;
  for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &name) == FcResultMatch; ++n) {
    names.push_back(foldName(reinterpret_cast<const char*>(name)));
  }
  return names;
}

bool isSimSun(const std::vector<std::string>& names) {
  // "宋体" in UTF-8, as fontconfig stores family names.
  static const std::string kSongTi = "\xE5\xAE\x8B\xE4\xBD\x93";
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& n) { return n == "simsun" || n == kSongTi; });
}

// Song is the Ming style of the mainland; serif CJK families are drawn in it.
bool isSongStyle(const std::vector<std::string>& names) {
  static const char* const kMarks[] = {"song", "ming", "\xE5\xAE\x8B" /* 宋 */,
                                       "\xE6\x98\x8E" /* 明 */};
  return std::any_of(names.begin(), names.end(), [](const std::string& n) {
    if (n.find("serif") != std::string::npos && n.find("sans") == std::string::npos) return true;
    return std::any_of(std::begin(kMarks), std::end(kMarks),
                       [&n](const char* mark) { return n.find(mark) != std::string::npos; });
  });
}

bool coversSimplifiedChinese(FcPattern* font) {
  FcLangSet* langs = nullptr;
  if (FcPatternGetLangSet(font, FC_LANG, 0, &langs) != FcResultMatch) return false;
  return FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("zh-cn")) == FcLangEqual;
}

bool hasGlyphPixelStrike(FcPattern* font) {
  double pixels = 0;
  for (int n = 0; FcPatternGetDouble(font, FC_PIXEL_SIZE, n, &pixels) == FcResultMatch; ++n) {
    if (std::fabs(pixels - kGlyphPixels) < 0.5) return true;
  }
  return false;
}

// Upright, regular-weight faces come before bold or slanted ones.
bool isPlain(FcPattern* font) {
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(font, FC_SLANT, 0, &slant);
  return slant == FC_SLANT_ROMAN && weight >= FC_WEIGHT_BOOK && weight <= FC_WEIGHT_MEDIUM;
}

struct Ranked {
  int tier;
  bool plain;
  std::string family;
  FontFace face;
};

}  // namespace

std::vector<FontFace> songFontCandidates() {
  if (FcInit() != FcTrue) return {};

  // List every font rather than ask fontconfig to match one: a match would
  // always answer, with a substitute when the family is missing.
  Pattern all(FcPatternCreate());
  ObjectSet objects(FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_SCALABLE,
                                     FC_PIXEL_SIZE, FC_LANG, FC_WEIGHT, FC_SLANT,
                                     static_cast<char*>(nullptr)));
  if (!all || !objects) return {};
  FontSet fonts(FcFontList(nullptr, all.get(), objects.get()));
  if (!fonts) return {};

  std::vector<Ranked> ranked;
  for (int i = 0; i < fonts->nfont; ++i) {
    FcPattern* font = fonts->fonts[i];
    FcChar8* file = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    int index = 0;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    FcBool scalable = FcFalse;
    FcPatternGetBool(font, FC_SCALABLE, 0, &scalable);

    const std::vector<std::string> names = families(font);
    int tier = 0;
    if (isSimSun(names)) {
      tier = 1;
    } else if (!coversSimplifiedChinese(font)) {
      continue;
    } else if (!scalable) {
      if (!hasGlyphPixelStrike(font)) continue;
      tier = isSongStyle(names) ? 2 : 3;
    } else {
      tier = isSongStyle(names) ? 4 : 5;
    }
    ranked.push_back(Ranked{tier, isPlain(font), names.empty() ? std::string() : names.front(),
                            FontFace{reinterpret_cast<const char*>(file), index,
                                     scalable == FcTrue}});
  }

  // The font list comes in no fixed order; sort fully so that every call
  // on a system picks the same face.
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    return std::forward_as_tuple(a.tier, b.plain, a.family, a.face.path, a.face.index) <
           std::forward_as_tuple(b.tier, a.plain, b.family, b.face.path, b.face.index);
  });
  std::vector<FontFace> faces;
  faces.reserve(ranked.size());
  for (Ranked& r : ranked) faces.push_back(std::move(r.face));
  return faces;
}

}  // namespace bspp
