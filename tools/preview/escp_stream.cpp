#include "escp_stream.h"

namespace bspp::preview {
namespace {

constexpr unsigned char kEsc = 0x1B;

// What a 9-pin printer does with a control byte (00-1F, 7F).
Op controlOp(unsigned char b) {
  switch (b) {
    case 0x0D: return Op::CarriageReturn;
    case 0x0A: return Op::LineFeed;
    case 0x0C: return Op::FormFeed;
    case 0x09: return Op::Tab;
    case 0x0B: return Op::VerticalTab;
    case 0x08: return Op::Backspace;
    case 0x0E:  // SO: double width for the rest of the line
    case 0x0F:  // SI: condensed
    case 0x12:  // DC2: condensed off
    case 0x14:  // DC4: double width off
      return Op::Setting;
    case 0x00:  // NUL
    case 0x07:  // BEL: the beeper
    case 0x11:  // DC1, DC3: select, deselect the printer
    case 0x13:
    case 0x18:  // CAN: drop the text not yet printed on the line
    case 0x7F:  // DEL
      return Op::Ignored;
    default: return Op::Unknown;
  }
}

// ESC commands with a fixed number of parameter bytes, and what they are.
struct EscInfo {
  int params;  // -1: not a 9-pin ESC/P command
  Op op;
};

EscInfo escInfo(unsigned char c) {
  switch (c) {
    case '0': case '1': case '2': return {0, Op::LineSpacing};
    case 'A': case '3': return {1, Op::LineSpacing};
    case 'J': case 'j': return {1, Op::Feed};
    case '@': case 'M': case 'P': case 0x0E: case 0x0F: return {0, Op::Setting};
    case 'Q': case 'l': case 'W': case '!': return {1, Op::Setting};
    case '$': case '\\': case 'f': return {2, Op::Setting};
    // Typeface, emphasis, quality, character sets, paper sensing, beeper,
    // print direction: nothing the preview draws differently.
    case '4': case '5': case '6': case '7': case '8': case '9': case '<': case 'E':
    case 'F': case 'G': case 'H': case 'O': case 'T': case '=': case '>': case '#':
      return {0, Op::Ignored};
    case 'N': case '-': case 'S': case 'x': case 'k': case 'p': case 'U': case 'R':
    case 't': case ' ': case 'a': case 's': case '%': case 'r': case 'i': case '/':
    case 'I': case 'm': case 0x19:
      return {1, Op::Ignored};
    case 'e': case '?': return {2, Op::Ignored};
    case ':': return {3, Op::Ignored};
    default: return {-1, Op::Unknown};
  }
}

}  // namespace

int graphicsDensity(int m) {
  switch (m) {
    case 0: return 60;
    case 1: case 2: return 120;
    case 3: return 240;
    case 4: return 80;
    case 5: return 72;
    case 6: return 90;
    default: return 0;
  }
}

void StreamReader::resetGraphicsModes() {
  modeK_ = 0;
  modeL_ = 1;
  modeY_ = 2;
  modeZ_ = 3;
}

bool StreamReader::next(Command& out) {
  const std::size_t size = s_.size();
  const std::size_t i = pos_;
  if (i >= size) return false;
  auto at = [this](std::size_t k) { return static_cast<unsigned char>(s_[k]); };
  auto emit = [&](Op op, std::size_t length, int value, std::string_view data) {
    out = Command{op, i, length, value, data};
    pos_ = i + length;
    return true;
  };
  auto truncated = [&](int value = 0) { return emit(Op::Truncated, size - i, value, s_.substr(i)); };

  unsigned char b = at(i);
  // Printable bytes: ASCII, and A0-FE from the upper half of the character
  // table (italics at power-on).
  auto printable = [](unsigned char c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFE); };
  if (printable(b)) {
    std::size_t end = i + 1;
    while (end < size && printable(at(end))) ++end;
    return emit(Op::Text, end - i, 0, s_.substr(i, end - i));
  }
  // 80-9F are the control codes 00-1F again, FF is DEL again.
  if (b >= 0x80) b = static_cast<unsigned char>(b & 0x7F);
  if (b != kEsc) return emit(controlOp(b), 1, 0, s_.substr(i, 1));

  if (i + 1 >= size) return truncated();
  const unsigned char c = at(i + 1);
  auto need = [&](std::size_t n) { return i + n <= size; };
  auto number = [&](std::size_t k) { return at(k) + 256 * at(k + 1); };

  // Graphics: ESC K/L/Y/Z nL nH, ESC * m nL nH, ESC ^ m nL nH.
  if (c == 'K' || c == 'L' || c == 'Y' || c == 'Z' || c == '*' || c == '^') {
    const std::size_t head = (c == '*' || c == '^') ? 5 : 4;
    if (!need(head)) return truncated();
    int mode = c == 'K' ? modeK_ : c == 'L' ? modeL_ : c == 'Y' ? modeY_ : c == 'Z' ? modeZ_ : at(i + 2);
    const int density = c == '^' ? (mode == 0 ? 60 : mode == 1 ? 120 : 0) : graphicsDensity(mode);
    if (density == 0) return emit(Op::Unknown, 3, 0, s_.substr(i, 3));
    const int k = number(i + head - 2);
    const int pins = c == '^' ? 9 : 8;
    const std::size_t bytes = static_cast<std::size_t>(k) * (pins == 9 ? 2 : 1);
    if (!need(head + bytes)) return truncated(k);
    emit(Op::Graphics, head + bytes, k, s_.substr(i + head, bytes));
    out.density = density;
    out.pins = pins;
    return true;
  }
  // Lists ended by NUL: horizontal tabs (up to 32), vertical tabs (up to 16,
  // or in channel m with ESC b m).
  if (c == 'D' || c == 'B' || c == 'b') {
    const std::size_t first = i + (c == 'b' ? 3 : 2);
    const std::size_t most = c == 'D' ? 32 : 16;
    std::size_t k = first;
    while (true) {
      if (k >= size) return truncated();
      if (at(k) == 0) {
        ++k;
        break;
      }
      if (k - first == most) break;
      ++k;
    }
    return emit(c == 'b' ? Op::Ignored : Op::Setting, k - i, 0, s_.substr(i, k - i));
  }
  if (c == 'C') {  // page length: ESC C n (lines) or ESC C NUL n (inches)
    if (!need(3)) return truncated();
    const std::size_t length = at(i + 2) == 0 ? 4 : 3;
    if (!need(length)) return truncated();
    return emit(Op::Setting, length, 0, s_.substr(i, length));
  }
  if (c == '&') {  // user-defined characters: ESC & 0 n m, 12 bytes each
    if (!need(5)) return truncated();
    const int count = at(i + 4) >= at(i + 3) ? at(i + 4) - at(i + 3) + 1 : 0;
    const std::size_t length = 5 + 12 * static_cast<std::size_t>(count);
    if (!need(length)) return truncated();
    return emit(Op::Ignored, length, 0, s_.substr(i, length));
  }

  const EscInfo info = escInfo(c);
  if (info.params < 0) return emit(Op::Unknown, 2, 0, s_.substr(i, 2));
  const std::size_t length = 2 + static_cast<std::size_t>(info.params);
  if (!need(length)) return truncated();
  int value = 0;
  if (info.op == Op::LineSpacing) {
    value = c == '2' ? 36 : c == '0' ? 27 : c == '1' ? 21 : c == 'A' ? 3 * at(i + 2) : at(i + 2);
  } else if (info.op == Op::Feed) {
    value = c == 'J' ? at(i + 2) : -at(i + 2);
  }
  if (c == '@') resetGraphicsModes();
  if (c == '?') {
    int* mode = at(i + 2) == 'K' ? &modeK_ : at(i + 2) == 'L' ? &modeL_
              : at(i + 2) == 'Y' ? &modeY_ : at(i + 2) == 'Z' ? &modeZ_ : nullptr;
    if (mode && graphicsDensity(at(i + 3)) > 0) *mode = at(i + 3);
  }
  return emit(info.op, length, value, s_.substr(i, length));
}

}  // namespace bspp::preview
