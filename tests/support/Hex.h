// Frames written as hex in tests: Bytes("01 03 00 00 00 0A C5 CD").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::test {

inline std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  int nibble = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(nibble << 4 | v));
      nibble = -1;
    }
  }
  return out;
}

inline std::string HexOf(const std::uint8_t* p, std::size_t n) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

inline std::string HexOf(const std::vector<std::uint8_t>& v) { return HexOf(v.data(), v.size()); }

}  // namespace vantrel::test
