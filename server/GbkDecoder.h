#pragma once

#include <string>
#include <string_view>

namespace brintel {

// Turns GBK (code page 936) bytes from the program server into UTF-8 for
// display. Bytes that are not valid GBK become U+FFFD; it never fails.
class GbkDecoder {
 public:
  virtual ~GbkDecoder() = default;
  virtual std::string ToUtf8(std::string_view gbk) const = 0;
};

}  // namespace brintel
