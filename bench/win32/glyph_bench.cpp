// Composes whole pages with the library's glyph surface and with the per-dot
// design in the same run and prints the times and their ratio.
//
//   wine bspp_glyph_bench.exe [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "reference_surface.h"

namespace {

// The i-th GB2312 character of level 1 (rows B0 to D7, 94 to a row).
std::string hanzi(int i) {
  i %= 40 * 94;
  return {static_cast<char>(0xB0 + i / 94), static_cast<char>(0xA1 + i % 94)};
}

// 66 lines of 40 characters, from a set of `distinct` characters.
std::string chinesePage(int distinct) {
  std::string page;
  for (int i = 0; i < 66 * 40; ++i) page += hanzi(i % distinct);
  return page;
}

// Lines of text with a few characters among them, and lines of text only.
std::string mixedPage() {
  std::string page;
  for (int line = 0; line < 66; ++line) {
    std::string text = "Item " + std::to_string(line) + ": ";
    if (line % 3 != 2) {
      for (int c = 0; c < 8; ++c) text += hanzi(line * 8 + c);
      text += " qty 12  price 3.50";
    } else {
      text += "text only on this line";
    }
    text.resize(80, ' ');
    page += text;
  }
  return page;
}

double nowMs() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Best of `reps` compositions, each with a surface prepared as a call does.
double timeCompose(const std::string& page, int reps,
                   const std::function<std::unique_ptr<bspp::DrawSurface>()>& make,
                   std::string& stream) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const double start = nowMs();
    std::unique_ptr<bspp::DrawSurface> surface = make();
    stream = bspp::composeJob(page, true, *surface);
    best = std::min(best, nowMs() - start);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  struct Page {
    const char* name;
    std::string text;
  } pages[] = {
      {"chinese page, 66 x 40 characters", chinesePage(300)},
      {"mixed page", mixedPage()},
      {"2640 different characters", chinesePage(2640)},
  };
  bool allFast = true;
  for (const Page& page : pages) {
    std::string ours, reference;
    const double tOurs = timeCompose(page.text, reps, bspp::prepareGlyphSurface, ours);
    const double tRef = timeCompose(page.text, std::max(1, reps / 3), bspp_test::makeReferenceSurface,
                                    reference);
    const double ratio = tRef / tOurs;
    allFast = allFast && ratio >= 20.0;
    std::printf("%-36s ours %9.2f ms   per-dot %10.2f ms   ratio %6.1fx   streams %s\n",
                page.name, tOurs, tRef, ratio, ours == reference ? "identical" : "DIFFER");
  }
  std::printf("target (>= 20x on every page): %s\n", allFast ? "met" : "missed");
  return 0;
}
