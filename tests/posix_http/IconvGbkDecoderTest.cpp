#include "server/posix/IconvGbkDecoder.h"

#include "../contracts/GbkDecoderContract.h"

namespace brintel::testing {

INSTANTIATE_TYPED_TEST_SUITE_P(Iconv, GbkDecoderContract, IconvGbkDecoder);

}  // namespace brintel::testing
