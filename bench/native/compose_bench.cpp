// The cost of composing a page with the Linux glyph raster.
#include <benchmark/benchmark.h>

#include <string>

#include "api/print_job.h"
#include "compose/glyph_surface.h"

namespace {

constexpr int kLines = 66;  // a page at 6 lines per inch
constexpr int kGlyphsPerLine = 40;

// The i-th character of GB2312's level-1 block (B0 A1 on, 94 to a row).
std::string gb2312(int i) {
  return {static_cast<char>(0xB0 + i / 94), static_cast<char>(0xA1 + i % 94)};
}

// 66 lines of the same 40 characters.
std::string chinesePage() {
  std::string page;
  for (int line = 0; line < kLines; ++line) {
    for (int i = 0; i < kGlyphsPerLine; ++i) page += gb2312(i);
  }
  return page;
}

// 2640 different characters, none drawn twice.
std::string distinctPage() {
  std::string page;
  for (int i = 0; i < kLines * kGlyphsPerLine; ++i) page += gb2312(i);
  return page;
}

// Lines alternating 8 ASCII columns and 4 characters, as a form's label and
// value columns do.
std::string mixedPage() {
  std::string page;
  for (int line = 0; line < kLines; ++line) {
    for (int block = 0; block < 5; ++block) {
      std::string label = "No." + std::to_string(line * 5 + block);
      label.resize(8, ' ');
      page += label;
      for (int i = 0; i < 4; ++i) page += gb2312((line + block * 4 + i) % 3000);
    }
  }
  return page;
}

void composePage(benchmark::State& state, const std::string& page) {
  // The surface is prepared once; each iteration composes the whole page.
  // Its glyph cache stays warm from one iteration to the next.
  const std::unique_ptr<bspp::DrawSurface> surface = bspp::prepareGlyphSurface();
  for (auto _ : state) {
    std::string stream = bspp::composeJob(page, false, *surface);
    benchmark::DoNotOptimize(stream.data());
  }
  state.counters["stream_bytes"] =
      static_cast<double>(bspp::composeJob(page, false, *surface).size());
}

// As composePage, but each page starts from a fresh surface, so every glyph
// is rendered anew as in a real call; preparing it is not timed.
void composePageFreshSurface(benchmark::State& state, const std::string& page) {
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<bspp::DrawSurface> surface = bspp::prepareGlyphSurface();
    state.ResumeTiming();
    std::string stream = bspp::composeJob(page, false, *surface);
    benchmark::DoNotOptimize(stream.data());
    state.PauseTiming();
    surface.reset();
    state.ResumeTiming();
  }
}

void wholeCall(benchmark::State& state, const std::string& page) {
  // Font lookup, FreeType and the face opened anew on every call, as a print
  // call does.
  for (auto _ : state) {
    const std::unique_ptr<bspp::DrawSurface> surface = bspp::prepareGlyphSurface();
    std::string stream = bspp::composeJob(page, false, *surface);
    benchmark::DoNotOptimize(stream.data());
  }
}

void BM_ChinesePage(benchmark::State& state) { composePage(state, chinesePage()); }
void BM_MixedPage(benchmark::State& state) { composePage(state, mixedPage()); }
void BM_DistinctCharactersPage(benchmark::State& state) { composePage(state, distinctPage()); }
void BM_ChinesePageFreshSurface(benchmark::State& state) {
  composePageFreshSurface(state, chinesePage());
}
void BM_DistinctCharactersPageFreshSurface(benchmark::State& state) {
  composePageFreshSurface(state, distinctPage());
}
void BM_PrepareSurface(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bspp::prepareGlyphSurface().get());
}
void BM_WholeCallChinesePage(benchmark::State& state) { wholeCall(state, chinesePage()); }
void BM_WholeCallMixedPage(benchmark::State& state) { wholeCall(state, mixedPage()); }
void BM_WholeCallDistinctCharactersPage(benchmark::State& state) {
  wholeCall(state, distinctPage());
}

}  // namespace

BENCHMARK(BM_ChinesePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MixedPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctCharactersPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChinesePageFreshSurface)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctCharactersPageFreshSurface)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrepareSurface)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeCallChinesePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeCallMixedPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeCallDistinctCharactersPage)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
