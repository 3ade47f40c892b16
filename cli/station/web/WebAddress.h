#pragma once

#include <optional>
#include <string>

namespace brintel::cli {

// Where the station's web page listens: --web [ADDRESS:]PORT.
struct WebAddress {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
};

// nullopt for a port that is not 0..65535 or an empty address; "[::1]:80"
// for an IPv6 address.
std::optional<WebAddress> ParseWebAddress(const std::string& text);

// Only this PC can reach it: 127.0.0.0/8, ::1 or localhost.
bool IsLoopback(const std::string& host);

}  // namespace brintel::cli
