// A grid of ink turned into the dots the printer strikes.
#pragma once

#include "dot_grid.h"
#include "escp_job.h"

namespace bspp::picture {

// How a page is drawn: `tone` keeps the grey of every area (photographs);
// `lineArt` keeps the grey of areas too, and also strikes every cell that
// holds a thin dark line or dot the area average would lose, taking that
// ink back from the cells around it so that greys stay as light as drawn.
enum class Rendering { tone, lineArt };

// Dithers the page at the dot grid by error diffusion and sends its inked
// bands. Paper white prints no dot and black every dot.
void printGrid(const Grid& grid, Rendering rendering, JobWriter& out);

}  // namespace bspp::picture
