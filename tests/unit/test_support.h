// Small helpers shared by the unit tests.
#pragma once

#include <string>
#include <string_view>

namespace bspp::test {

inline const std::string kLT{"\x1B\x32\x0D\x0A", 4};

// Bytes from a literal that may hold NULs: bytes("A\0B") has three bytes.
template <std::size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

}  // namespace bspp::test
