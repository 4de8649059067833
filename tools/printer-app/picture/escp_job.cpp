#include "escp_job.h"

#include <algorithm>
#include <initializer_list>

#include "compose/escp.h"

namespace bspp::picture {
namespace {

constexpr int kEsc = 0x1B;
constexpr int kMaxFeedUnits = 255;  // ESC J n: n/216 inch, n up to 255
constexpr std::size_t kFlushBytes = 16 * 1024;

char byte(int value) { return static_cast<char>(static_cast<unsigned char>(value)); }

void put(std::string& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out += byte(b);
}

}  // namespace

void JobWriter::beginPage() {
  if (!started_) {
    put(out_, {kEsc, '@'});
    started_ = true;
  }
  const LengthCommand next = lengths_.next();
  if (next.spacing != length_.spacing || next.lines != length_.lines) {
    // The printer fixes the page length when ESC C arrives, in lines of the
    // spacing then in force; ESC 2 (1/6 inch) is what text expects after.
    if (next.spacing == kSixthInch) {
      put(out_, {kEsc, '2', kEsc, 'C', next.lines});
    } else {
      put(out_, {kEsc, '3', next.spacing, kEsc, 'C', next.lines, kEsc, '2'});
    }
    length_ = next;
  }
  headRow_ = 0;
}

void JobWriter::band(int row, const std::uint8_t* columns, int count) {
  while (count > 0 && columns[count - 1] == 0) --count;
  if (count <= 0 || !open_) return;
  count = std::min(count, kLineDots);
  for (int left = (row - headRow_) * kUnitsPerPinRow; left > 0;) {
    const int step = std::min(left, kMaxFeedUnits);  // 255 is a whole number of pin rows
    put(out_, {kEsc, 'J', step});
    left -= step;
  }
  headRow_ = row;
  put(out_, {kEsc, 'L', count & 0xFF, count >> 8});
  out_.append(reinterpret_cast<const char*>(columns), static_cast<std::size_t>(count));
  out_ += kCarriageReturn;
  if (out_.size() >= kFlushBytes) flush();
}

void JobWriter::endPage() {
  out_ += kFormFeed;
  flush();
}

void JobWriter::flush() {
  if (open_ && !out_.empty() && !sink_(out_)) open_ = false;
  out_.clear();
}

}  // namespace bspp::picture
