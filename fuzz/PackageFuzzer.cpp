// A package as the server may send it. Any bytes: the header reads what the
// text holds, digits and picture ids at any position (before the start, past
// the end) read safely, and the 70 blocks never read beyond the payload. A
// package the simulated server builds from fuzzed data, key and identity:
// the blocks the tool prepares give the simulated display exactly that data.

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "device/IdentityFrame.h"
#include "device/SendBlock.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/server/PackageBuilder.h"

namespace brintel::fuzz {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void CheckAnyText(FuzzInput& in) {
  const std::string listKey = in.Bytes(1 + in.Below(LIST_KEY_MAX));
  const std::string deviceId = in.Bytes(PACKAGE_ID_SIZE);
  const auto probe = static_cast<std::ptrdiff_t>(static_cast<std::int16_t>(in.Below(65536)));
  const std::string_view text = in.Rest();
  const auto size = static_cast<std::ptrdiff_t>(text.size());

  const PackageHeader header = ReadPackageHeader(text);
  const std::size_t separator = FindSeparator(text);
  FUZZ_CHECK(header.separator ==
             (separator == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(separator)));
  if (header.separator > static_cast<std::ptrdiff_t>(PACKAGE_ID_SIZE)) {
    FUZZ_CHECK(header.title == text.substr(PACKAGE_ID_SIZE, separator - PACKAGE_ID_SIZE));
  } else {
    FUZZ_CHECK(header.title.empty());
  }
  FUZZ_CHECK(header.leftPicture == ReadPictureId(text, header.separator + 1));
  FUZZ_CHECK(header.rightPicture == ReadPictureId(text, header.separator + 4));
  const bool wholeHex =
      header.separator >= 0 && size >= header.separator + 7 + PAYLOAD_DIGITS &&
      std::all_of(text.begin() + header.separator + 7,
                  text.begin() + std::min(size, header.separator + 7 + PAYLOAD_DIGITS),
                  [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  FUZZ_CHECK(HoldsValidPayload(text) == wholeHex);

  // Three bytes hold at most "999" or "-99".
  for (const std::ptrdiff_t at : {probe, std::ptrdiff_t{-1}, size - 2, size, size + 3}) {
    const std::uint16_t id = ReadPictureId(text, at);
    FUZZ_CHECK(id <= 999 || id >= 65536 - 99);
    if (at < 0 || at >= size) {
      FUZZ_CHECK(id == 0);
    }
  }
  for (const std::ptrdiff_t at : {probe, std::ptrdiff_t{-2}, std::ptrdiff_t{-1}, size - 1, size}) {
    const std::uint8_t pair = ReadDigitPair(text, at);
    if (at < 0 || at >= size || !IsHexDigit(text[static_cast<std::size_t>(at)])) {
      FUZZ_CHECK(pair == 0);
    } else if (at == size - 1) {
      FUZZ_CHECK(pair < 16);  // the pair's second character is missing
    }
  }

  // The blocks read the payload only: what follows it changes none of them.
  const std::ptrdiff_t payloadEnd = header.separator + 7 + PAYLOAD_DIGITS;
  std::string longer;
  if (size >= payloadEnd) {
    const auto end = static_cast<std::size_t>(payloadEnd);
    longer = std::string(text.substr(0, end)) + "F7_zz" + std::string(text.substr(end));
  }
  for (int b = 0; b < BLOCK_COUNT; ++b) {
    const SendBlock block = PrepareBlock(text, header.payloadStart, b, deviceId, listKey);
    if (size >= payloadEnd) {
      FUZZ_CHECK(block == PrepareBlock(longer, header.payloadStart, b, deviceId, listKey));
    }
  }
}

// GBK text without a separator of its own: a lead byte always has its trail
// (0x5F included), a lone "_" becomes "-".
std::string TitleFrom(const std::string& bytes) {
  std::string title;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (IsGbkLeadByte(byte) && i + 1 < bytes.size()) {
      title += bytes.substr(i, 2);
      ++i;
    } else if (!IsGbkLeadByte(byte)) {
      title += byte == SEPARATOR ? '-' : bytes[i];
    }
  }
  return title;
}

void CheckBuiltPackage(FuzzInput& in) {
  std::string listKey = in.Bytes(1 + in.Below(LIST_KEY_MAX));
  if (listKey.empty()) {
    listKey.push_back('K');  // the input ended early
  }
  std::string deviceId;
  for (std::size_t i = 0; i < PACKAGE_ID_SIZE; ++i) {
    deviceId += kHex[in.Byte() & 0x0F];
  }
  sim::Program program;
  program.title = TitleFrom(in.Text());
  for (int i = 0; i < 6; ++i) {
    program.pictures += static_cast<char>('0' + in.Byte() % 10);
  }
  program.trailer = in.Text();
  const std::string_view seed = in.Rest();
  program.data.resize(PROGRAM_SIZE);
  for (std::size_t i = 0; i < PROGRAM_SIZE; ++i) {
    program.data[i] =
        seed.empty()
            ? 0
            : static_cast<std::uint8_t>(static_cast<unsigned char>(seed[i % seed.size()]) + i / 7);
  }
  const std::string text = sim::BuildPackage(deviceId, listKey, program);

  const PackageHeader header = ReadPackageHeader(text);
  FUZZ_CHECK(header.separator ==
             static_cast<std::ptrdiff_t>(PACKAGE_ID_SIZE + program.title.size()));
  FUZZ_CHECK(header.title == program.title);
  FUZZ_CHECK(header.leftPicture == std::stoi(program.pictures.substr(0, 3)));
  FUZZ_CHECK(header.rightPicture == std::stoi(program.pictures.substr(3, 3)));
  FUZZ_CHECK(HoldsValidPayload(text));
  FUZZ_CHECK(text.compare(0, PACKAGE_ID_SIZE, deviceId) == 0);
  // The simulated display takes the 70 blocks back into exactly that data.
  sim::DisplayProtocol::Settings settings;
  settings.frame = sim::BuildIdentityFrame(deviceId).value();
  sim::DisplayProtocol display(settings);
  sim::DisplayProtocol::Reaction reaction;
  for (int b = 0; b < BLOCK_COUNT; ++b) {
    display.OnByte(PROBE_BYTE, {}, reaction);
    for (const std::uint8_t byte : PrepareBlock(text, header.payloadStart, b, deviceId, listKey)) {
      display.OnByte(byte, {}, reaction);
    }
  }
  FUZZ_CHECK(display.Complete() && display.Program() == program.data);
}

}  // namespace
}  // namespace brintel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brintel::fuzz::FuzzInput in(data, size);
  if ((in.Byte() & 1) == 0) {
    brintel::fuzz::CheckAnyText(in);
  } else {
    brintel::fuzz::CheckBuiltPackage(in);
  }
  return 0;
}
