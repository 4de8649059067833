// The printer's draft font for printable ASCII: 5 dots wide, up to 9 pins
// high (7 above the baseline, 2 for descenders).
#pragma once

#include <array>
#include <cstdint>

namespace bspp::preview {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kGlyphPins = 9;

// Pin rows of `c` from the top (bit 4 = leftmost column); all zero for bytes
// outside 20-7E.
const std::array<std::uint8_t, kGlyphPins>& glyphRows(unsigned char c);

}  // namespace bspp::preview
