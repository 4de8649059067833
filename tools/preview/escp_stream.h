// Splits a printer byte stream into the ESC/P commands a 9-pin printer acts on.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace bspp::preview {

enum class Op {
  Text,            // a run of printable ASCII bytes (20-7E)
  CarriageReturn,  // CR (0D)
  LineFeed,        // LF (0A)
  FormFeed,        // FF (0C)
  LineSpacing,     // ESC "2", ESC "0", ESC "1", ESC "A" n; value in 1/72 inch
  Graphics,        // ESC "L" nL nH + k bytes; value = k, data = the k bytes
  Unknown,         // a byte (or ESC and its command byte) this printer model
                   // is not asked to understand
  Truncated,       // a command cut short by the end of the stream
};

struct Command {
  Op op;
  std::size_t offset;     // of the command's first byte in the stream
  std::size_t length;     // bytes the command takes in the stream
  int value;              // LineSpacing: units of 1/72 inch; Graphics and a
                          // truncated ESC "L": the announced k
  std::string_view data;  // Text: the bytes; Graphics: the dot columns;
                          // Unknown and Truncated: the command's bytes
};

// Reads the whole stream; every byte belongs to exactly one command.
std::vector<Command> parseStream(std::string_view stream);

// A short name for a command's bytes, e.g. "ESC A 4" or "byte 0x00".
const char* opName(Op op);

}  // namespace bspp::preview
