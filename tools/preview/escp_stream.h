// Splits a printer byte stream into the ESC/P commands a 9-pin printer acts on.
#pragma once

#include <cstddef>
#include <string_view>

namespace bspp::preview {

enum class Op {
  Text,            // a run of printable bytes (20-7E, and A0-FE from the upper
                   // half of the character table)
  CarriageReturn,  // CR (0D)
  LineFeed,        // LF (0A)
  FormFeed,        // FF (0C)
  LineSpacing,     // ESC "2", "0", "1", "A" n, "3" n; value in 1/216 inch
  Feed,            // ESC "J" n (forward), ESC "j" n (back); value in 1/216
                   // inch, negative for a reverse feed
  Graphics,        // ESC "K"/"L"/"Y"/"Z" nL nH, ESC "*" m nL nH, ESC "^" m nL nH
                   // and their dot columns; value = columns, density = dots
                   // per inch, pins = 8 or 9 (two bytes a column)
  Tab,             // HT (09)
  VerticalTab,     // VT (0B)
  Backspace,       // BS (08)
  Setting,         // a command that changes how later bytes print (pitch,
                   // margins, tabs, page length, positioning, reset); data
                   // holds all its bytes
  Ignored,         // understood, but changes nothing the preview draws:
                   // NUL, DEL, BEL, bold, italics, print quality...
  Unknown,         // a byte (or ESC and its command byte) a 9-pin ESC/P
                   // printer does not understand
  Truncated,       // a command cut short by the end of the stream
};

struct Command {
  Op op;
  std::size_t offset;     // of the command's first byte in the stream
  std::size_t length;     // bytes the command takes in the stream
  int value;              // see Op
  std::string_view data;  // Text: the bytes; Graphics: the dot columns;
                          // everything else: the command's bytes
  int density = 0;        // Graphics: horizontal dots per inch
  int pins = 8;           // Graphics: 8, or 9 for ESC "^"
};

// Reads a stream one command at a time, holding nothing but its position:
// every byte belongs to exactly one command.
class StreamReader {
 public:
  explicit StreamReader(std::string_view stream) : s_(stream) {}
  // The next command, false at the end of the stream.
  bool next(Command& out);

  // ESC "?" reassigns the density of ESC "K", "L", "Y" and "Z", so the
  // reader keeps their current densities; ESC "@" restores them.
  void resetGraphicsModes();

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
  int modeK_ = 0, modeL_ = 1, modeY_ = 2, modeZ_ = 3;  // ESC "*" m equivalents
};

// Horizontal dots per inch of ESC "*" mode m on a 9-pin printer; 0 for a
// mode it does not have.
int graphicsDensity(int m);

}  // namespace bspp::preview
