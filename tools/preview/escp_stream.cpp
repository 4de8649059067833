#include "escp_stream.h"

namespace bspp::preview {
namespace {

constexpr unsigned char kEsc = 0x1B;

bool printable(unsigned char b) { return b >= 0x20 && b <= 0x7E; }

}  // namespace

std::vector<Command> parseStream(std::string_view s) {
  std::vector<Command> out;
  const std::size_t size = s.size();
  std::size_t i = 0;
  auto emit = [&](Op op, std::size_t length, int value, std::string_view data) {
    out.push_back(Command{op, i, length, value, data});
    i += length;
  };
  while (i < size) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (printable(b)) {
      std::size_t end = i + 1;
      while (end < size && printable(static_cast<unsigned char>(s[end]))) ++end;
      emit(Op::Text, end - i, 0, s.substr(i, end - i));
      continue;
    }
    switch (b) {
      case 0x0D: emit(Op::CarriageReturn, 1, 0, s.substr(i, 1)); continue;
      case 0x0A: emit(Op::LineFeed, 1, 0, s.substr(i, 1)); continue;
      case 0x0C: emit(Op::FormFeed, 1, 0, s.substr(i, 1)); continue;
      case kEsc: break;
      default: emit(Op::Unknown, 1, 0, s.substr(i, 1)); continue;
    }
    // ESC and its command byte.
    if (i + 1 >= size) {
      emit(Op::Truncated, 1, 0, s.substr(i));
      continue;
    }
    const char command = s[i + 1];
    switch (command) {
      case '2': emit(Op::LineSpacing, 2, 12, s.substr(i, 2)); break;
      case '0': emit(Op::LineSpacing, 2, 9, s.substr(i, 2)); break;
      case '1': emit(Op::LineSpacing, 2, 7, s.substr(i, 2)); break;
      case 'A':
        if (i + 2 >= size) {
          emit(Op::Truncated, size - i, 0, s.substr(i));
        } else {
          emit(Op::LineSpacing, 3, static_cast<unsigned char>(s[i + 2]), s.substr(i, 3));
        }
        break;
      case 'L': {
        if (i + 3 >= size) {
          emit(Op::Truncated, size - i, 0, s.substr(i));
          break;
        }
        const int k = static_cast<unsigned char>(s[i + 2]) +
                      256 * static_cast<unsigned char>(s[i + 3]);
        const std::size_t length = 4 + static_cast<std::size_t>(k);
        if (i + length > size) {
          emit(Op::Truncated, size - i, k, s.substr(i));
        } else {
          emit(Op::Graphics, length, k, s.substr(i + 4, static_cast<std::size_t>(k)));
        }
        break;
      }
      default: emit(Op::Unknown, 2, 0, s.substr(i, 2)); break;
    }
  }
  return out;
}

const char* opName(Op op) {
  switch (op) {
    case Op::Text: return "text";
    case Op::CarriageReturn: return "CR";
    case Op::LineFeed: return "LF";
    case Op::FormFeed: return "FF";
    case Op::LineSpacing: return "line spacing";
    case Op::Graphics: return "ESC L graphics";
    case Op::Unknown: return "unknown";
    case Op::Truncated: return "truncated command";
  }
  return "?";
}

}  // namespace bspp::preview
