// Fuzzes the printer application's text path with what a network client
// controls: a text document in any bytes and the charset it names.
//
// Input: the first byte chooses the charset (0 automatic, 1 UTF-8, 2
// GB2312, 3 one the printer does not take); the rest is the document.
//
// Besides surviving every input: a refused document sends nothing; a
// printed one arrives in pieces of bounded size and is the stream the
// library composes for the whole text at once (its records and a closing
// NUL, as bspp-print ends a file).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "api/print_job.h"
#include "text_input.h"
#include "text_path.h"
#include "text_records.h"

namespace {

using bspp::printer_app::Charset;

// Inks every pixel of a drawn cell's first dot column: enough for band
// records with data, with no font needed.
class CellSurface final : public bspp::DrawSurface {
 public:
  void clear() override { ink_.fill(0); }
  void draw(const bspp::GlyphCell* cells, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (cells[i].x >= 0 && cells[i].x < bspp::kLineDots) ink_[static_cast<std::size_t>(cells[i].x)] = 0xFFFF;
    }
  }
  void readInk(bspp::InkColumns& ink) override { ink = ink_; }

 private:
  bspp::InkColumns ink_{};
};

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "text path: %s\n", what);
  std::abort();
}

// The job text as read whole: the encoding tried as printText chooses it.
std::string decoded(const std::string& document, Charset charset) {
  using bspp::tools::Encoding;
  const auto decode = [&](Encoding e) {
    bspp::tools::TextDecoder d(e);
    std::string out;
    d.decode(document, out);
    d.finish();
    return out;
  };
  if (charset == Charset::gb2312) return decode(Encoding::gb2312);
  if (charset == Charset::utf8) return decode(Encoding::utf8);
  try {
    return decode(Encoding::utf8);
  } catch (const bspp::tools::InputError&) {
    return decode(Encoding::gb2312);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const Charset kCharsets[] = {Charset::automatic, Charset::utf8, Charset::gb2312,
                                      Charset::unsupported};
  const Charset charset = kCharsets[data[0] % 4];
  const std::string document(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::unique_ptr<std::FILE, Closer> file(std::tmpfile());
  if (!file || std::fwrite(document.data(), 1, document.size(), file.get()) != document.size()) return 0;

  CellSurface surface;
  std::string stream;
  std::size_t largest = 0;
  try {
    bspp::printer_app::printText(file.get(), charset, surface, [&](std::string_view piece) {
      largest = std::max(largest, piece.size());
      stream += piece;
      return true;
    });
  } catch (const bspp::printer_app::TextRefused&) {
    if (!stream.empty()) fail("a refused document sent bytes");
    return 0;
  }
  if (largest > 4u << 20) fail("a piece larger than 4 MiB");
  std::string records = bspp::tools::linesToRecords(decoded(document, charset), bspp::tools::LongLines::wrap);
  if (!bspp::tools::endsWithOwnNul(records)) records.push_back('\0');
  if (stream != bspp::composeJob(records, false, surface)) fail("the stream differs from the whole job's");
  return 0;
}
