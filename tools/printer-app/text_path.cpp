#include "text_path.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <string>

#include "compose/glyph_bander.h"
#include "compose/line_composer.h"
#include "text_input.h"
#include "text_records.h"

namespace bspp::printer_app {
namespace {

using tools::Encoding;
using tools::InputError;
using tools::TextDecoder;
using tools::TextPosition;

constexpr std::size_t kBlock = 16 * 1024;

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\"");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\"");
  return std::string(s.substr(first, last - first + 1));
}

Charset charsetNamed(const std::string& name) {
  if (name.empty()) return Charset::automatic;
  if (name == "utf-8" || name == "utf8" || name == "us-ascii") return Charset::utf8;
  if (name == "gb2312" || name == "gbk" || name == "gb18030" || name == "cp936" ||
      name == "euc-cn" || name == "windows-936") {
    return Charset::gb2312;
  }
  return Charset::unsupported;
}

std::string where(const TextPosition& at) {
  return "line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
}

[[noreturn]] void refuse(const InputError& e) {
  throw TextRefused(where({e.line(), e.column()}) + ": " + e.what() + "; nothing was printed");
}

// Calls `use` with each block of the document, from its start.
template <typename Use>
void readBlocks(std::FILE* document, Use use) {
  if (std::fseek(document, 0, SEEK_SET) != 0) throw TextRefused("the document could not be read from the spool");
  std::string block(kBlock, '\0');
  for (;;) {
    const std::size_t n = std::fread(&block[0], 1, block.size(), document);
    if (n > 0 && !use(std::string_view(block.data(), n))) return;
    if (n < block.size()) break;
  }
  if (std::ferror(document) != 0) throw TextRefused("the document could not be read from the spool");
}

// The first reading: which encoding the text is in, whether every
// character can be printed, and which double-byte characters it holds.
struct Checked {
  Encoding encoding = Encoding::utf8;
  TextPosition firstDoubleByte;
  tools::CodeSet codes;
};

Checked check(std::FILE* document, Charset charset) {
  if (charset == Charset::unsupported) {
    throw TextRefused("the document's charset is not supported (send UTF-8 or GB2312)");
  }
  const bool tryUtf8 = charset != Charset::gb2312;
  const bool tryGb = charset != Charset::utf8;
  TextDecoder utf8(Encoding::utf8, tools::OnFault::note);
  TextDecoder gb(Encoding::gb2312, tools::OnFault::note);
  std::string scratch;
  readBlocks(document, [&](std::string_view block) {
    if (tryUtf8) utf8.decode(block, scratch);
    scratch.clear();
    if (tryGb) gb.decode(block, scratch);
    scratch.clear();
    // Nothing more to learn once both have failed.
    return !(utf8.firstFault() && gb.firstFault());
  });
  utf8.finish();
  gb.finish();
  // Only a text that is not UTF-8 at all may be GB2312; a UTF-8 text with a
  // character outside GB2312 reports that character.
  const TextDecoder* chosen = &utf8;
  if (charset == Charset::gb2312 || (charset == Charset::automatic && utf8.firstFault() &&
                                     !utf8.wellFormed() && !gb.firstFault())) {
    chosen = &gb;
  }
  if (chosen->firstFault()) refuse(*chosen->firstFault());
  return Checked{chosen == &gb ? Encoding::gb2312 : Encoding::utf8, chosen->firstDoubleByte(),
                 chosen->codes()};
}

// Draws every double-byte character of the text once: true when the font
// had each of them.
bool fontDrawsAll(DrawSurface& surface, const tools::CodeSet& codes) {
  std::array<GlyphCell, kMaxGlyphsPerLine> cells{};
  std::size_t n = 0;
  const auto draw = [&] {
    surface.clear();
    surface.draw(cells.data(), n);
    n = 0;
  };
  codes.forEach([&](unsigned char lead, unsigned char trail) {
    cells[n] = GlyphCell{lead, trail, cellX(static_cast<int>(2 * n))};
    if (++n == cells.size()) draw();
  });
  if (n > 0) draw();
  return !surface.missedGlyph();
}

}  // namespace

Charset charsetOf(std::string_view format, std::string_view documentCharset) {
  const std::string f = lower(format);
  const auto at = f.find("charset=");
  if (at != std::string::npos) {
    std::string name = f.substr(at + 8);
    name = name.substr(0, name.find(';'));
    return charsetNamed(trim(name));
  }
  return charsetNamed(trim(lower(documentCharset)));
}

bool printText(std::FILE* document, Charset charset, DrawSurface& surface, const StreamSink& sink) {
  const Checked checked = check(document, charset);
  if (!fontDrawsAll(surface, checked.codes)) {
    throw TextRefused("no Chinese font is installed to draw the characters (first at " +
                      where(checked.firstDoubleByte) + "); nothing was printed");
  }

  TextDecoder decoder(checked.encoding);
  tools::RecordLayout layout(tools::LongLines::wrap);
  GlyphBander bander(surface);
  LineComposer composer(&bander);
  std::string gb, records, stream, lastRecord;
  bool going = true;
  const auto send = [&] {
    composer.take(stream);
    going = stream.empty() || sink(stream);
    stream.clear();
    return going;
  };
  const auto compose = [&] {
    if (records.empty()) return;
    lastRecord.assign(records, records.size() - std::min(records.size(), std::size_t{kLineColumns}),
                      std::string::npos);
    composer.add(records);
    records.clear();
  };
  readBlocks(document, [&](std::string_view block) {
    try {
      decoder.decode(block, gb);
    } catch (const InputError& e) {
      refuse(e);  // the file changed under us
    }
    layout.add(gb, records);
    gb.clear();
    compose();
    return send();
  });
  if (!going) return false;
  layout.finish(records);
  compose();
  // As bspp-print sends a file: a NUL as the last byte, so that the last
  // line is ended by a form feed and no visible character is cut.
  if (!tools::endsWithOwnNul(lastRecord)) composer.add(std::string_view("\0", 1));
  composer.close(/*keepPage=*/false);
  return send();
}

}  // namespace bspp::printer_app
