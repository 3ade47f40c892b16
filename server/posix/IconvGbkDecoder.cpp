#include "server/posix/IconvGbkDecoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace brintel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

class Converter {
 public:
  Converter() {
    // glibc knows code page 936 as CP936; other C libraries may only say GBK.
    handle_ = iconv_open("UTF-8", "CP936");
    if (handle_ == Invalid()) {
      handle_ = iconv_open("UTF-8", "GBK");
    }
  }
  ~Converter() {
    if (ok()) {
      iconv_close(handle_);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return handle_ != Invalid(); }
  iconv_t get() const { return handle_; }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t handle_;
};

std::string AsciiOnly(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      out += kReplacement;
    }
  }
  return out;
}

}  // namespace

std::string IconvGbkDecoder::ToUtf8(std::string_view gbk) const {
  const Converter converter;
  if (!converter.ok()) {
    return AsciiOnly(gbk);
  }
  // iconv's input pointer is not const; it reads through a copy.
  std::string input(gbk);
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::string out;
  out.reserve(input.size() * 3 / 2);
  char buffer[512];
  while (inLeft > 0) {
    char* outPos = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter.get(), &in, &inLeft, &outPos, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(outPos - buffer));
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
      continue;
    }
    // EILSEQ (not a character) or EINVAL (a lead byte cut off at the end):
    // replace the one byte and resynchronise on the next.
    out += kReplacement;
    ++in;
    --inLeft;
  }
  return out;
}

}  // namespace brintel
