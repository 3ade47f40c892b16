#pragma once

// What every fuzz target shares: the fuzzer's bytes read as a script, and a
// check that stops the run loudly (libFuzzer and the replay both catch the abort).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace brintel::fuzz {

// Reads past the end give zeros and empty texts, so every input is a whole
// script: a short one simply ends in the quiet, cooperative defaults.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }

  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // A value in [0, bound), bound at most 65536.
  std::size_t Below(std::size_t bound) {
    const std::size_t value = bound > 256 ? (std::size_t{Byte()} << 8) | Byte() : Byte();
    return bound == 0 ? 0 : value % bound;
  }

  std::string Bytes(std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && !empty(); ++i) {
      out += static_cast<char>(Byte());
    }
    return out;
  }

  // A length byte, then that many bytes.
  std::string Text() { return Bytes(Byte()); }

  std::string_view Rest() {
    const std::size_t start = pos_ < size_ ? pos_ : size_;
    pos_ = size_;
    return {reinterpret_cast<const char*>(data_) + start, size_ - start};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace brintel::fuzz
