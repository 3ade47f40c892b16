#include "server/ProgramList.h"

#include <algorithm>
#include <numeric>

#include "server/Separator.h"

namespace brintel {

std::string ListUrl(const std::string& serverAddress, const std::string& defaultServer,
                    const std::string& deviceId) {
  if (serverAddress.empty()) {
    return "http://" + defaultServer + "/cargetnameplovix.asp?id=" + deviceId;
  }
  return "http://" + serverAddress + ":82/getnameplovix.asp?id=" + deviceId;
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                            byte == '_' || byte == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string PackageUrl(const std::string& listUrl, std::string_view programName) {
  return listUrl + "&type=" + PercentEncode(programName);
}

std::optional<std::string> ListKey(std::string_view listText) {
  const std::size_t separator = FindSeparator(listText);
  if (separator == std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(listText.substr(0, separator));
}

bool IsUsableListKey(std::string_view key) {
  return !key.empty() && key.size() <= LIST_KEY_MAX;
}

std::vector<std::string> SplitProgramNames(std::string_view listText) {
  std::vector<std::string> names;
  std::size_t separator = FindSeparator(listText);
  while (separator != std::string_view::npos) {
    const std::size_t begin = separator + 1;
    separator = FindSeparator(listText, begin);
    const std::size_t end = separator == std::string_view::npos ? listText.size() : separator;
    names.emplace_back(listText.substr(begin, end - begin));
  }
  return names;
}

std::vector<std::size_t> SortedChoiceOrder(const std::vector<std::string>& names) {
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto fold = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
  };
  const auto less = [&](std::size_t a, std::size_t b) {
    const std::string& x = names[a];
    const std::string& y = names[b];
    const bool folded = std::lexicographical_compare(
        x.begin(), x.end(), y.begin(), y.end(), [&](char p, char q) { return fold(p) < fold(q); });
    if (folded) {
      return true;
    }
    const bool foldedReverse = std::lexicographical_compare(
        y.begin(), y.end(), x.begin(), x.end(), [&](char p, char q) { return fold(p) < fold(q); });
    return !foldedReverse && x < y;
  };
  std::stable_sort(order.begin(), order.end(), less);
  return order;
}

}  // namespace brintel
