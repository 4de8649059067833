// Printer commands and page geometry shared by the composer and the bander.
#pragma once

#include <cstddef>
#include <string_view>

namespace bspp {

// ESC "2" (1/6-inch line spacing), CR, LF: ends every printed line.
inline constexpr std::string_view kLineTerminator{"\x1B\x32\x0D\x0A", 4};
inline constexpr char kFormFeed = '\x0C';
inline constexpr char kCarriageReturn = '\x0D';

inline constexpr int kLineColumns = 80;      // text columns per printed line
inline constexpr int kDotsPerColumn = 12;    // 1/10 inch at 120 dots per inch
inline constexpr int kLineDots = kLineColumns * kDotsPerColumn;  // 960
inline constexpr std::size_t kMaxGlyphsPerLine = 40;

// The paper under the head: ESC "L" graphics put 120 dots in an inch across,
// the pins are 1/72 inch apart, and text column 0 (dot 0) is a quarter inch
// in from the paper's left edge.
inline constexpr int kDotsPerInch = 120;
inline constexpr int kPinRowsPerInch = 72;
inline constexpr int kLeftMarginDots = kDotsPerInch / 4;  // 30

// Bytes at or above this value open a double-byte character.
inline constexpr unsigned char kLeadByteMin = 0xA0;

}  // namespace bspp
