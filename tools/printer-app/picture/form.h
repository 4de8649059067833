// The form a picture job prints on: its printable width in dots and its
// length, and the page length the printer is given for each form.
#pragma once

#include <string>

#include "picture.h"

namespace bspp::picture {

// The 9-pin printer's page length unit: ESC 3 sets the line spacing in
// 1/216 inch, and ESC C counts the page length in lines of that spacing.
inline constexpr int kUnitsPerInch = 216;
inline constexpr int kUnitsPerPinRow = 3;  // a pin row is 1/72 inch
inline constexpr int kSixthInch = 36;      // ESC 2's spacing, what text expects

struct Form {
  int dotsAcross = 0;  // printable dots from the quarter-inch margin
  int pinRows = 0;     // whole pin rows on one form
  double lengthUnits = 0;  // the form's exact length in 1/216 inch
};

// The form of the selected media; throws Error when the printer cannot
// print on it (narrower than its margin, shorter than an inch or longer
// than the 22 inches ESC C can set).
Form formOf(const Options& options);

// How a form of `units` (1/216 inch) is given to the printer: ESC 3 n then
// ESC C m sets n x m units (n up to 255, m up to 127); n is kSixthInch
// (ESC 2) whenever the form is a whole number of sixths of an inch.
struct LengthCommand {
  int spacing;  // n
  int lines;    // m
};

// The page lengths of consecutive forms. A form that is not a whole number
// of 1/216 inch (A4 is 2525.67) gets lengths the printer can set, chosen so
// that the top of every form is where it belongs or up to 2/216 inch past
// it, never ahead: the error does not add up over a long job.
class FormLengths {
 public:
  explicit FormLengths(const Form& form) : target_(form.lengthUnits) {}
  LengthCommand next();

 private:
  double target_;
  long long done_ = 0;  // units fed by the forms so far
  long long forms_ = 0;
};

// `inches` for a message: "11 in", "11.69 in".
std::string inchesText(double inches);

}  // namespace bspp::picture
