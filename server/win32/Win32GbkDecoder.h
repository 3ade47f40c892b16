#pragma once

#include <string>
#include <string_view>

#include "server/GbkDecoder.h"

namespace brintel {

// GbkDecoder on the system's code page 936 conversion. Each byte that does not
// start a valid character becomes U+FFFD and decoding goes on with the next
// byte. Stateless and thread-safe.
class Win32GbkDecoder final : public GbkDecoder {
 public:
  std::string ToUtf8(std::string_view gbk) const override;
};

}  // namespace brintel
