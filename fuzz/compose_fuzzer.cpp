// Fuzzes the composition of a whole job: the line composer and the glyph
// bander, on a raster whose ink follows from each cell's two bytes.
//
// Input: the first byte's bit 0 is keepPage and its bit 1 chooses the ink
// model (below); the rest is the job text.
//
// Besides surviving every input, the stream must read back as the job the
// text describes. The checker lays the text out on its own, then walks the
// stream line by line: an optional pair of band records (their ESC L counts,
// their widths and their dots recomputed from the layout), the CR after
// band 1, the line's text without trailing blanks, the line terminator
// (taken away again when the next line starts with bands), and the closing
// rule of the last line.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "api/print_job.h"
#include "compose/draw_surface.h"

namespace {

constexpr int kColumns = 80;
constexpr int kDots = 960;
// A drawn cell reaches 20 dots to the right, past the right edge of its two
// columns (x + 19 = column x 12 + 24), as a wide glyph may: so the last dot
// columns of a band can carry ink, and any byte pattern at a band's end.
constexpr int kCellWidth = 20;
const std::string_view kTerminator{"\x1B\x32\x0D\x0A", 4};

unsigned reverseBits(unsigned char b) {
  unsigned r = 0;
  for (unsigned i = 0; i < 8; ++i) r |= ((static_cast<unsigned>(b) >> i) & 1u) << (7u - i);
  return r;
}

// The ink a cell leaves in one dot column: bit r for raster row r.
//   Hashed: from the pair's two bytes and the distance dx from the cell's
//   left edge, so different characters give different irregular shapes.
//   Taped: the column's two band bytes are read from the input itself
//   (band 0 from tape[2x], band 1 from tape[2x + 1]), so the fuzzer can put
//   any bytes, line terminators included, into the dot data.
struct InkModel {
  bool taped = false;
  std::string_view tape;

  std::uint16_t column(unsigned char lead, unsigned char trail, int x, int dx) const {
    if (taped) {
      if (tape.empty()) return 0;
      const auto at = static_cast<std::size_t>(2 * x);
      const auto band0 = static_cast<unsigned char>(tape[at % tape.size()]);
      const auto band1 = static_cast<unsigned char>(tape[(at + 1) % tape.size()]);
      return static_cast<std::uint16_t>(reverseBits(band0) | reverseBits(band1) << 8);
    }
    std::uint32_t h = (static_cast<std::uint32_t>(lead) << 16 |
                       static_cast<std::uint32_t>(trail) << 8 | static_cast<std::uint32_t>(dx)) *
                      0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x85EBCA77u;
    h ^= h >> 13;
    return static_cast<std::uint16_t>(h);
  }
};

// Draws each cell as the ink model says, over what is already there.
class ModelSurface final : public bspp::DrawSurface {
 public:
  explicit ModelSurface(const InkModel& model) : model_(model) {}
  void clear() override { ink_.fill(0); }
  void draw(const bspp::GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      for (int dx = 0; dx < kCellWidth; ++dx) {
        const int x = cells[i].x + dx;
        if (x >= 0 && x < kDots) {
          ink_[static_cast<std::size_t>(x)] |= model_.column(cells[i].lead, cells[i].trail, x, dx);
        }
      }
    }
  }
  void readInk(bspp::InkColumns& ink) override { ink = ink_; }

 private:
  const InkModel& model_;
  bspp::InkColumns ink_{};
};

// One printed line as the checker lays it out.
struct Glyph {
  unsigned char lead;
  unsigned char trail;
  int column;
};
struct Line {
  std::string text;  // single-byte characters, two blanks per double-byte one
  std::vector<Glyph> glyphs;
  int columns = 0;
};

// Splits the text into lines: a byte below A0 takes one column, a byte of A0
// or more takes the next byte (or a NUL at the end) and two columns, and a
// line is full once it reaches 80 columns. The last line may be partial.
std::vector<Line> layOut(std::string_view text) {
  std::vector<Line> lines(1);
  for (std::size_t j = 0; j < text.size(); ++j) {
    Line& line = lines.back();
    const auto b = static_cast<unsigned char>(text[j]);
    if (b < 0xA0) {
      line.text += static_cast<char>(b);
      line.columns += 1;
    } else {
      const auto trail = static_cast<unsigned char>(j + 1 < text.size() ? text[++j] : 0);
      line.glyphs.push_back({b, trail, line.columns});
      line.text += "  ";
      line.columns += 2;
    }
    if (line.columns >= kColumns) lines.emplace_back();
  }
  return lines;  // the last entry is the partial line, possibly empty
}

[[noreturn]] void fail(const char* what, std::size_t where) {
  std::fprintf(stderr, "stream check failed: %s (stream offset %zu)\n", what, where);
  std::abort();
}

void check(bool ok, const char* what, std::size_t where) {
  if (!ok) fail(what, where);
}

class StreamReader {
 public:
  explicit StreamReader(const std::string& stream) : s_(stream) {}

  std::size_t pos() const { return pos_; }
  bool atEnd() const { return pos_ == s_.size(); }

  void expect(std::string_view bytes, const char* what) {
    check(s_.size() - pos_ >= bytes.size() && s_.compare(pos_, bytes.size(), bytes) == 0, what,
          pos_);
    pos_ += bytes.size();
  }

  // A band record: ESC A spacing, CR LF, ESC L nL nH and its dot data, which
  // must be the raster rows top..top+7 of `ink`, the top row in bit 7.
  void band(char spacing, int expectedWidth, const std::array<std::uint16_t, kDots>& ink, int top) {
    const char head[] = {'\x1B', 'A', spacing, '\x0D', '\x0A', '\x1B', 'L'};
    expect(std::string_view(head, sizeof head), "band record header");
    check(s_.size() - pos_ >= 2, "ESC L count missing", pos_);
    const int k = static_cast<unsigned char>(s_[pos_]) + 256 * static_cast<unsigned char>(s_[pos_ + 1]);
    check(k == expectedWidth, "band width is not (last column + 2) x 12", pos_);
    pos_ += 2;
    check(s_.size() - pos_ >= static_cast<std::size_t>(k), "band shorter than its ESC L count", pos_);
    for (int x = 0; x < k; ++x) {
      unsigned expected = 0;
      for (unsigned bit = 0; bit < 8; ++bit) {
        const unsigned row = static_cast<unsigned>(top) + 7u - bit;
        if (x < kDots && ((static_cast<unsigned>(ink[static_cast<std::size_t>(x)]) >> row) & 1u)) {
          expected |= 1u << bit;
        }
      }
      check(static_cast<unsigned char>(s_[pos_ + static_cast<std::size_t>(x)]) == expected,
            "band dot data", pos_ + static_cast<std::size_t>(x));
    }
    pos_ += static_cast<std::size_t>(k);
  }

 private:
  const std::string& s_;
  std::size_t pos_ = 0;
};

void checkStream(std::string_view text, bool keepPage, const InkModel& model,
                 const std::string& stream) {
  const std::vector<Line> lines = layOut(text);
  const std::size_t full = lines.size() - 1;
  const bool partial = lines.back().columns > 0;
  const std::size_t printed = full + (partial ? 1 : 0);

  StreamReader in(stream);
  for (std::size_t i = 0; i < printed; ++i) {
    const Line& line = lines[i];
    const bool last = i + 1 == printed;
    if (i < full) {
      const bool wide = !line.glyphs.empty() && line.glyphs.back().column == kColumns - 1;
      check(line.columns == (wide ? kColumns + 1 : kColumns), "full line of the wrong width", in.pos());
    }

    if (!line.glyphs.empty()) {
      std::array<std::uint16_t, kDots> ink{};
      for (const Glyph& g : line.glyphs) {
        const int left = g.column * 12 + 5;
        for (int dx = 0; dx < kCellWidth && left + dx < kDots; ++dx) {
          ink[static_cast<std::size_t>(left + dx)] |= model.column(g.lead, g.trail, left + dx, dx);
        }
      }
      const int k = (line.glyphs.back().column + 2) * 12;
      in.band('\x04', k, ink, 0);
      in.band('\x08', k, ink, 8);
      in.expect("\x0D", "CR after band 1");
    }

    std::string_view body(line.text);
    while (!body.empty() && body.back() == ' ') body.remove_suffix(1);
    if (last && partial && !keepPage && !body.empty()) body.remove_suffix(1);
    const std::size_t bodyAt = in.pos();
    in.expect(body, "line text");
    check(body.empty() || body.back() != ' ' || (last && partial && !keepPage),
          "line text ends in a blank", bodyAt);

    // The next line's bands take the place of this terminator, unless the
    // terminator is all the stream holds so far.
    const bool replaced = !last && !lines[i + 1].glyphs.empty() && in.pos() > 0;
    if (!replaced) in.expect(kTerminator, "line terminator");
  }
  if (partial && !keepPage) in.expect("\x0C", "form feed closing a partial last line");
  check(in.atEnd(), "bytes after the end of the job", in.pos());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool keepPage = (data[0] & 1u) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const InkModel model{(data[0] & 2u) != 0, text};
  ModelSurface surface(model);
  const std::string stream = bspp::composeJob(text, keepPage, surface);
  checkStream(text, keepPage, model, stream);
  return 0;
}
