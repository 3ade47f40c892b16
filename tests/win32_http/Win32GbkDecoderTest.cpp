#include "server/win32/Win32GbkDecoder.h"

#include "../contracts/GbkDecoderContract.h"

namespace brintel::testing {

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, GbkDecoderContract, Win32GbkDecoder);

}  // namespace brintel::testing
