#include "cli/station/web/WebAddress.h"

#include <charconv>

namespace brintel::cli {

std::optional<WebAddress> ParseWebAddress(const std::string& text) {
  WebAddress address;
  std::string port = text;
  if (const auto colon = text.rfind(':'); colon != std::string::npos) {
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
      address.host = address.host.substr(1, address.host.size() - 2);
    }
    if (address.host.empty()) {
      return std::nullopt;
    }
  }
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), address.port);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() ||
      address.port < 0 || address.port > 65535) {
    return std::nullopt;
  }
  return address;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

}  // namespace brintel::cli
