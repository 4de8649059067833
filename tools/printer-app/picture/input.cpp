#include "input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bspp::picture {

std::size_t MemoryReader::read(void* buffer, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size());
  if (n > 0) std::memcpy(buffer, bytes_.data(), n);
  bytes_.remove_prefix(n);
  return n;
}

FileReader::FileReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")), path_(path) {
  if (!file_) throw Error("the document " + path + " cannot be read (" + std::strerror(errno) + ")");
}

std::size_t FileReader::read(void* buffer, std::size_t size) {
  const std::size_t n = std::fread(buffer, 1, size, file_.get());
  if (n == 0 && std::ferror(file_.get())) {
    throw Error("the document " + path_ + " could not be read to its end (" + std::strerror(errno) + ")");
  }
  return n;
}

bool Input::refill() {
  if (atEnd_) return false;
  next_ = end_ = 0;
  end_ = reader_.read(buffer_.data(), buffer_.size());
  if (end_ == 0) atEnd_ = true;
  return end_ > 0;
}

std::size_t Input::read(void* out, std::size_t size) {
  auto* to = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < size) {
    if (next_ == end_ && !refill()) break;
    const std::size_t n = std::min(size - done, end_ - next_);
    std::memcpy(to + done, buffer_.data() + next_, n);
    next_ += n;
    done += n;
  }
  return done;
}

}  // namespace bspp::picture
