#pragma once

// Helpers for the program server's tests: what the tool and the display do
// with a package, and a bare HTTP client that shows the wire as it is.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brintel::sim::test {

inline const std::string kDeviceId = "1027262514131211";

// The body as the tool reads it: every CR and LF dropped.
std::string WithoutLineBreaks(std::string_view body);

// The program a display ends up holding from `packageText` (no line breaks):
// every block as the tool prepares it, unscrambled and put back in place.
std::vector<std::uint8_t> DisplayProgram(std::string_view packageText, std::string_view deviceId,
                                         std::string_view listKey);

struct WireReply {
  bool connected = false;
  bool closed = false;  // the server closed the connection (rather than a time-out)
  std::string head;     // status line and headers, up to the blank line
  std::string body;     // every byte after the blank line
  int status = 0;
  std::string Header(std::string_view name) const;  // first value, "" when absent
};

// One GET of `target` on host:port over a plain socket, read until the server
// closes the connection or nothing arrives for 2 s.
WireReply RawGet(const std::string& host, int port, const std::string& target);

}  // namespace brintel::sim::test
