#pragma once

#include <string>

namespace brintel::testing {

// Program names as the simulated server's list carries them, in GBK.
inline const std::string kStandardGbk = "\xB1\xEA\xD7\xBC\xB0\xE6";  // 标准版
inline const std::string kTrailGbk = "\xD6\xB1\xDF\x5F";             // 直達: 達 ends in 0x5F

}  // namespace brintel::testing
