// One picture document (PNG, JPEG, PWG raster, Apple raster) turned into the
// 9-pin printer's ESC/P graphics stream: decoded with limits, resampled by
// area onto the printer's dot grid (120 dots per inch across, 72 pin rows
// per inch down), dithered there, and sent a page at a time.
//
// The stream of a job: ESC @ and the form's length (ESC 2 ESC C m: m lines
// of 1/6 inch; a form that is no whole number of them, as A4, ESC 3 n ESC C
// m ESC 2, set again on a page where the length the printer can set
// changes), then for each page its inked bands of 8 pin rows as ESC L
// graphics from the top of the form, ESC J feeds over blank rows, and a form
// feed. A page longer than its form is cut at the form. The limits on what a
// document may ask are in picture_limits.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bspp::picture {

enum class Format { png, jpeg, pwgRaster, appleRaster /* image/urf */ };

// print-content-optimize (text-and-graphics is `graphics`).
enum class Content { automatic, photo, graphics, text };
// print-scaling.
enum class Scaling { automatic, autoFit, fill, fit, none };
// orientation-requested.
enum class Orientation { automatic, portrait, landscape, reversePortrait, reverseLandscape };

struct Options {
  // The selected media in hundredths of a millimetre (PWG units), e.g.
  // 21590 x 27940 for 8.5 x 11 in.
  int formWidth = 21590;
  int formLength = 27940;
  Content content = Content::automatic;
  Scaling scaling = Scaling::automatic;
  Orientation orientation = Orientation::automatic;
};

// A document refused or cut short; what() is one sentence for the user.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Receives the stream in pieces as they are ready. Returns false to stop
// (the job was canceled or the device failed).
using Sink = std::function<bool(std::string_view bytes)>;

// The document's bytes.
class Reader {
 public:
  virtual ~Reader() = default;
  // Up to `size` bytes into `buffer`; 0 at the end. Throws Error on a fault.
  virtual std::size_t read(void* buffer, std::size_t size) = 0;
};

class MemoryReader final : public Reader {
 public:
  explicit MemoryReader(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read(void* buffer, std::size_t size) override;

 private:
  std::string_view bytes_;
};

class FileReader final : public Reader {
 public:
  // Throws Error when the file cannot be opened.
  explicit FileReader(const std::string& path);
  std::size_t read(void* buffer, std::size_t size) override;

 private:
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Close> file_;
  std::string path_;
};

struct Result {
  int pages = 0;         // pages whose stream went to the sink whole
  bool stopped = false;  // the sink asked to stop
  std::string note;      // e.g. "page 1 was longer than its form and was cut at 11 in"
};

// Prints one document. Throws Error for a document it refuses: before any
// byte reaches the sink when the fault is found before the first page is
// complete; later, after the pages before the fault went out, with a message
// that says how far it got. Throws Error too for options no form of the
// printer matches (a form shorter than an inch or longer than 22 inches).
Result printPicture(Format format, Reader& reader, const Options& options, const Sink& sink);

}  // namespace bspp::picture
