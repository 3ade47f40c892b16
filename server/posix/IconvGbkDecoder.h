#pragma once

#include <string>
#include <string_view>

#include "server/GbkDecoder.h"

namespace brintel {

// GbkDecoder on iconv's CP936 (or GBK) converter. Each byte that does not start
// a valid character becomes U+FFFD and decoding goes on with the next byte.
// Stateless and thread-safe: every call opens its own converter. Should the C
// library have no GBK converter, ASCII still passes and every other byte
// becomes U+FFFD.
class IconvGbkDecoder final : public GbkDecoder {
 public:
  std::string ToUtf8(std::string_view gbk) const override;
};

}  // namespace brintel
