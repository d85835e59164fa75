// A fuzzer's input read from the front, so that a seed can be written byte by byte: fields
// first, then chunks of bytes each led by its length. Past the end every field reads 0 and
// every chunk is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vantrel::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Done() const { return at_ >= size_; }
  std::uint8_t Byte() { return Done() ? 0 : data_[at_++]; }
  unsigned Word() {
    const unsigned high = Byte();
    return high << 8 | Byte();
  }
  // A length byte, then as many bytes as it says (fewer at the end of the input).
  std::vector<std::uint8_t> Chunk() {
    std::size_t n = Byte();
    if (n > size_ - at_) n = size_ - at_;
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A broken invariant: said on standard error, then an abort, which libFuzzer reports as a
// crash with the input that caused it.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "Invariant broken: %s\n", what);
  std::abort();
}

}  // namespace vantrel::fuzz
