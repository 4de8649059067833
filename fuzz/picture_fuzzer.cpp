// Fuzzes what a network client controls of a picture job: PNG, JPEG, PWG
// raster and Apple raster documents through bspp::picture::printPicture,
// with the options a client sets.
//
// Input: byte 0 bits 0-1 the format, bits 2-3 print-content-optimize,
// bits 4-5 the media (letter, A4, or one of two small forms that keep the
// runs quick), bit 6 a sink that stops after its first piece; byte 1
// print-scaling (mod 5) and orientation-requested (byte 1 / 5, mod 5); the
// rest is the document.
//
// Besides surviving every input, the stream must be one a 9-pin printer
// reads as the unit promises: ESC @ first, page lengths, graphics of at most
// 960 dots, paper feeds of whole pin rows, one form feed a page; and a
// document refused before its first page is whole sends nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "picture.h"

namespace {

namespace pic = bspp::picture;

[[noreturn]] void fail(const char* what, std::size_t at) {
  std::fprintf(stderr, "picture_fuzzer: %s at offset %zu\n", what, at);
  std::abort();
}

// Reads the stream as the printer would and returns its form feeds.
int checkStream(std::string_view s) {
  if (s.empty()) return 0;
  if (s.substr(0, 2) != "\x1b@") fail("the stream does not start with ESC @", 0);
  int pages = 0;
  bool inked = false;  // graphics since the last form feed
  for (std::size_t i = 2; i < s.size();) {
    const auto at = [&](std::size_t k) {
      if (i + k >= s.size()) fail("a command cut short", i);
      return static_cast<unsigned char>(s[i + k]);
    };
    const char c = s[i];
    if (c == '\r') {
      ++i;
    } else if (c == '\f') {
      ++pages, ++i;
      inked = false;
    } else if (c != '\x1b') {
      fail("a byte outside any command", i);
    } else if (at(1) == '2') {
      i += 2;
    } else if (at(1) == '3') {
      if (at(2) == 0) fail("ESC 3 0", i);
      i += 3;
    } else if (at(1) == 'C') {
      if (at(2) == 0 || at(2) > 127 || inked) fail("a page length of no lines or after graphics", i);
      i += 3;
    } else if (at(1) == 'J') {
      if (at(2) % 3 != 0 || at(2) == 0) fail("a feed of no whole pin rows", i);
      i += 3;
    } else if (at(1) == 'L') {
      const std::size_t n = at(2) + 256u * at(3);
      if (n == 0 || n > 960) fail("graphics wider than the print line", i);
      at(3 + n);  // the data is all there
      i += 4 + n;
      inked = true;
    } else {
      fail("an ESC command the picture path does not send", i);
    }
  }
  if (s.back() != '\f') fail("the stream does not end with a form feed", s.size());
  return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const pic::Format formats[] = {pic::Format::png, pic::Format::jpeg, pic::Format::pwgRaster,
                                        pic::Format::appleRaster};
  static const pic::Content contents[] = {pic::Content::automatic, pic::Content::photo, pic::Content::graphics,
                                          pic::Content::text};
  static const pic::Scaling scalings[] = {pic::Scaling::automatic, pic::Scaling::autoFit, pic::Scaling::fill,
                                          pic::Scaling::fit, pic::Scaling::none};
  static const pic::Orientation orientations[] = {pic::Orientation::automatic, pic::Orientation::portrait,
                                                  pic::Orientation::landscape, pic::Orientation::reversePortrait,
                                                  pic::Orientation::reverseLandscape};
  static const int media[][2] = {{21590, 27940}, {3810, 2540}, {21000, 29700}, {5080, 3810}};
  pic::Options options;
  options.content = contents[(data[0] >> 2) & 3];
  options.formWidth = media[(data[0] >> 4) & 3][0];
  options.formLength = media[(data[0] >> 4) & 3][1];
  options.scaling = scalings[data[1] % 5];
  options.orientation = orientations[(data[1] / 5) % 5];
  const bool stopEarly = (data[0] & 0x40) != 0;

  std::string stream;
  const pic::Sink sink = [&](std::string_view bytes) {
    stream.append(bytes);
    return !stopEarly;
  };
  pic::MemoryReader reader(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
  try {
    const pic::Result r = pic::printPicture(formats[data[0] & 3], reader, options, sink);
    if (stopEarly != r.stopped && !stream.empty()) fail("the sink's stop not reported", 0);
    if (r.stopped) return 0;  // the stream ends where the sink stopped it
    if (checkStream(stream) != r.pages) fail("the pages counted differ from the form feeds", 0);
  } catch (const pic::Error& e) {
    const std::string_view message = e.what();
    if (message.empty()) fail("a refusal without a message", 0);
    if (!stream.empty() && stream.back() == '\f') checkStream(stream);
    if (message.find("printed before it") == std::string_view::npos && !stream.empty()) {
      fail("bytes sent for a document refused before its first page", 0);
    }
  }
  return 0;
}
