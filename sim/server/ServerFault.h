#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "sim/FaultParseResult.h"

namespace brintel::sim {

// The ways the simulated program server can misbehave on purpose;
// ServerFaultForms tells what each does.
enum class ServerFaultKind {
  kNoSeparator,
  kEmptyKey,
  kLongKey,
  kShortBody,
  kNonHex,
  kOtherDevice,
  kTruncatedBody,
  kErrorPage,
  kSlow,
  kDropConnection,  // keep it last
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

// "[list:|package:|both:]KIND", KIND one of the forms ServerFaultForms lists.
// Without a target a fault hits what it can: the list faults the list, the
// package faults the package, the rest both. A list fault aimed at the package
// (or the reverse) is an error, but for no-separator, which
// "package:no-separator" takes out of the package.
FaultParseResult<ServerFault> ParseServerFault(std::string_view text);

// The text that parses back to `fault`, target included: "package:slow:200".
std::string FaultText(const ServerFault& fault);

// The kinds ParseServerFault accepts with what each does, one per line, for help texts.
std::string ServerFaultForms();

}  // namespace brintel::sim
