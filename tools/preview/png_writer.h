// PNG files of rendered pages.
#pragma once

#include <cstddef>
#include <string>

#include "escp_render.h"

namespace bspp::preview {

// The page as a PNG image (4-colour palette: paper white, ink, marker red),
// with its resolution (360 dpi) recorded. Uses libpng where the build found
// it, the built-in encoder otherwise.
std::string encodePng(const Page& page);

// The built-in encoder: the same image in uncompressed deflate blocks.
std::string encodePngUncompressed(const Page& page);

// The file name of page `number` (from 1): the first page is `path` itself,
// page n is `path` with "-n" before its extension (out.png, out-2.png,
// out-3.png...).
std::string pageFileName(const std::string& path, std::size_t number);

}  // namespace bspp::preview
