#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brintel {

// The key in front of a list's first "_" feeds a 32-byte key area that is
// cycled through, so it must hold 1 to 32 bytes.
inline constexpr std::size_t LIST_KEY_MAX = 32;

// A list longer than this, or with more names, is refused like one without a
// "_": no person picks from thousands of names, and showing them would hold
// the window for minutes.
inline constexpr std::size_t LIST_TEXT_MAX = std::size_t{1} << 20;
inline constexpr std::size_t LIST_NAMES_MAX = 4096;

// "http://HOST/cargetnameplovix.asp?id=ID" with the default server, or
// "http://ADDRESS:82/getnameplovix.asp?id=ID" when the address box holds any
// text at all (blanks included).
std::string ListUrl(const std::string& serverAddress, const std::string& defaultServer,
                    const std::string& deviceId);

// The list URL with "&type=" and the name, every byte of the name outside the
// unreserved URL characters percent-encoded, so the server gets its exact bytes.
std::string PackageUrl(const std::string& listUrl, std::string_view programName);

std::string PercentEncode(std::string_view bytes);

// The bytes in front of the first "_"; nullopt when the text has no "_".
std::optional<std::string> ListKey(std::string_view listText);

bool IsUsableListKey(std::string_view key);

// The names after the key, in the list's order, raw bytes. Every "_" ends a
// name, so two in a row give an empty name, and a trailing "_" an empty last
// name. Empty when the text has no "_".
std::vector<std::string> SplitProgramNames(std::string_view listText);

// Indices into `names` in the order a sorted choice box shows them: ASCII
// letters compared without case, then byte order; equal names keep their
// order. The first index is the preselected entry.
std::vector<std::size_t> SortedChoiceOrder(const std::vector<std::string>& names);

}  // namespace brintel
