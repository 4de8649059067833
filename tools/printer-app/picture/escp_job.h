// The ESC/P stream of a picture job, page by page, band by band.
#pragma once

#include <cstdint>
#include <string>

#include "form.h"
#include "picture.h"

namespace bspp::picture {

inline constexpr int kBandRows = 8;  // pins fired by one ESC L pass

class JobWriter {
 public:
  JobWriter(const Form& form, const Sink& sink) : lengths_(form), sink_(sink) {}

  // The first page starts the job: ESC @ and the form's length. Later pages
  // set the length again only when their form's differs (A4).
  void beginPage();
  // One band of 8 pin rows whose top pin is on `row` of the page: `columns`
  // dot columns from the left margin, bit 7 the top pin.
  void band(int row, const std::uint8_t* columns, int count);
  // The form feed that ends the page.
  void endPage();

  // False once the sink asked to stop; nothing more is sent then.
  bool open() const { return open_; }

 private:
  void flush();

  FormLengths lengths_;
  const Sink& sink_;
  std::string out_;
  LengthCommand length_{0, 0};
  bool started_ = false;
  bool open_ = true;
  int headRow_ = 0;  // the pin row the top pin is on
};

}  // namespace bspp::picture
