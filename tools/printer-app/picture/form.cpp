#include "form.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "compose/escp.h"

namespace bspp::picture {
namespace {

constexpr double kHundredthsPerInch = 2540.0;
constexpr int kMaxSpacing = 255;
constexpr int kMaxLines = 127;
constexpr double kLongestForm = 22.0;  // inches, the most ESC C sets

// The way to set `units` with ESC 3 / ESC C, if there is one: whole
// sixths of an inch as 1/6-inch lines (what ESC 2 sets), else the first
// spacing that divides it.
bool commandFor(long long units, LengthCommand& out) {
  if (units <= 0) return false;
  if (units % kSixthInch == 0 && units / kSixthInch <= kMaxLines) {
    out = {kSixthInch, static_cast<int>(units / kSixthInch)};
    return true;
  }
  for (int n = kMaxSpacing; n >= 1; --n) {
    if (units % n == 0 && units / n <= kMaxLines) {
      out = {n, static_cast<int>(units / n)};
      return true;
    }
  }
  return false;
}

}  // namespace

Form formOf(const Options& options) {
  const double width = options.formWidth / kHundredthsPerInch;
  const double length = options.formLength / kHundredthsPerInch;
  if (!(length >= 1.0 && length <= kLongestForm)) {
    throw Error("the media is " + inchesText(length) +
                " long; this printer sets forms of 1 to 22 in");
  }
  const double margin = static_cast<double>(kLeftMarginDots) / kDotsPerInch;
  const int across = static_cast<int>(std::floor((width - margin) * kDotsPerInch + 1e-6));
  if (across < kDotsPerInch) {
    throw Error("the media is " + inchesText(width) + " wide, too narrow for this printer");
  }
  Form form;
  form.dotsAcross = std::min(across, kLineDots);
  form.lengthUnits = length * kUnitsPerInch;
  form.pinRows = static_cast<int>(std::floor(form.lengthUnits / kUnitsPerPinRow + 1e-6));
  return form;
}

LengthCommand FormLengths::next() {
  ++forms_;
  // The shortest length the printer can set that ends this form at or
  // past its true end: a form's top is never ahead of the paper's.
  const double end = static_cast<double>(forms_) * target_;
  auto units = static_cast<long long>(std::ceil(end - 1e-6)) - done_;
  LengthCommand c{};
  while (!commandFor(units, c)) ++units;
  done_ += units;
  return c;
}

std::string inchesText(double inches) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", inches);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s + " in";
}

}  // namespace bspp::picture
