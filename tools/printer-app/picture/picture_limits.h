// What a picture may ask of the server. Checked from the document's header,
// before anything its size depends on is allocated, so that memory stays
// bounded (a few tens of MiB) whatever a client sends.
#pragma once

#include <array>
#include <cstddef>

namespace bspp::picture {

// PNG and JPEG: pixels on a side, and in all (this bounds the time a
// picture that is decoded row by row takes: about a second).
inline constexpr long long kMaxPictureSide = 32768;
inline constexpr long long kMaxPicturePixels = 1LL << 28;

// A picture that must be held whole to be decoded (an interlaced PNG, as
// its expanded rows; a progressive JPEG, as its DCT coefficients).
inline constexpr std::size_t kMaxHeldBytes = 32u << 20;

// What libjpeg may allocate in all for one picture.
inline constexpr long kMaxJpegMemory = 48L << 20;

// PWG and Apple raster: the resolutions the printer offers, and the widest
// form (8.5 in) that bounds a page's width at them. Rows past the form are
// read and dropped, never held.
inline constexpr std::array<unsigned, 2> kRasterResolutions{180, 360};
inline constexpr double kWidestFormInches = 8.5;

}  // namespace bspp::picture
