#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brintel::sim {

enum class ServerFaultKind {
  kNoSeparator,     // list "NOPROGRAMS", or (package: asked for) the package without its "_"
  kEmptyKey,        // list "_name1_...": nothing before the first "_"
  kLongKey,         // a 33-byte list key, one more than the tool's key area
  kShortBody,       // the package cut to 29999 bytes, one under the tool's minimum
  kNonHex,          // one payload digit of the package, mid-payload, replaced by "G"
  kOtherDevice,     // a complete package made and keyed for another id
  kTruncatedBody,   // Content-Length of the whole reply, connection closed after half
  kErrorPage,       // HTTP 500 with an HTML page
  kSlow,            // the reply held back for `delay`
  kDropConnection,  // the connection closed without any reply; keep it last
};

inline constexpr std::size_t kServerFaultKindCount =
    static_cast<std::size_t>(ServerFaultKind::kDropConnection) + 1;

enum class FaultTarget { kList, kPackage, kBoth };

struct ServerFault {
  ServerFaultKind kind = ServerFaultKind::kErrorPage;
  FaultTarget target = FaultTarget::kBoth;
  std::chrono::milliseconds delay{0};  // kSlow only

  bool Hits(FaultTarget request) const { return target == FaultTarget::kBoth || target == request; }
  friend bool operator==(const ServerFault&, const ServerFault&) = default;
};

struct FaultParse {
  std::optional<ServerFault> fault;
  std::string error;  // why not, when `fault` is empty
};

// "[list:|package:|both:]KIND", KIND one of no-separator, empty-key, long-key,
// short-body, non-hex, other-device, truncated-body, error-page, slow:MS,
// drop-connection. Without a target a fault hits what it can: the list faults
// the list, the package faults the package, the rest both. A list fault aimed
// at the package (or the reverse) is an error, but for no-separator, which
// "package:no-separator" takes out of the package.
FaultParse ParseServerFault(std::string_view text);

// The text that parses back to `fault`, target included: "package:slow:200".
std::string FaultText(const ServerFault& fault);

}  // namespace brintel::sim
