// Buffered reading of a document, for the decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture.h"

namespace bspp::picture {

class Input {
 public:
  explicit Input(Reader& reader) : reader_(reader), buffer_(kBufferSize) {}

  // Up to `size` bytes: fewer only at the end of the document.
  std::size_t read(void* out, std::size_t size);
  // Exactly `size` bytes, or false when the document ends first.
  bool readAll(void* out, std::size_t size) {
    if (size <= end_ - next_) {  // the common case: all in the buffer
      std::memcpy(out, buffer_.data() + next_, size);
      next_ += size;
      return true;
    }
    return read(out, size) == size;
  }
  // The next byte, or -1 at the end.
  int byte() {
    if (next_ == end_ && !refill()) return -1;
    return buffer_[next_++];
  }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  bool refill();

  Reader& reader_;
  std::vector<std::uint8_t> buffer_;
  std::size_t next_ = 0, end_ = 0;
  bool atEnd_ = false;
};

}  // namespace bspp::picture
