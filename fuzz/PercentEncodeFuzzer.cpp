// Program names reach the server through PercentEncode: whatever the bytes,
// the result holds only unreserved characters and %XX, and decodes to them.

#include <string>

#include "FuzzInput.h"
#include "server/ProgramList.h"

namespace {

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int UpperHexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string encoded = brintel::PercentEncode(bytes);

  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      FUZZ_CHECK(IsUnreserved(encoded[i]));
      decoded += encoded[i];
      continue;
    }
    FUZZ_CHECK(i + 2 < encoded.size());
    const int high = UpperHexValue(encoded[i + 1]);
    const int low = UpperHexValue(encoded[i + 2]);
    FUZZ_CHECK(high >= 0 && low >= 0);
    const auto value = static_cast<char>(high * 16 + low);
    FUZZ_CHECK(!IsUnreserved(value));  // nothing is escaped that need not be
    decoded += value;
    i += 2;
  }
  FUZZ_CHECK(decoded == bytes);

  const std::string url = brintel::PackageUrl("http://h/l?id=1", bytes);
  FUZZ_CHECK(url == "http://h/l?id=1&type=" + encoded);
  return 0;
}
