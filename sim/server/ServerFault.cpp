#include "sim/server/ServerFault.h"

#include <array>
#include <charconv>
#include <utility>

namespace brintel::sim {
namespace {

struct KindInfo {
  ServerFaultKind kind;
  std::string_view name;
  FaultTarget natural;  // what it hits without a target
  FaultTarget allowed;  // what it can hit; kBoth when either
};

constexpr KindInfo kKinds[] = {
    {ServerFaultKind::kNoSeparator, "no-separator", FaultTarget::kList, FaultTarget::kBoth},
    {ServerFaultKind::kEmptyKey, "empty-key", FaultTarget::kList, FaultTarget::kList},
    {ServerFaultKind::kLongKey, "long-key", FaultTarget::kList, FaultTarget::kList},
    {ServerFaultKind::kShortBody, "short-body", FaultTarget::kPackage, FaultTarget::kPackage},
    {ServerFaultKind::kNonHex, "non-hex", FaultTarget::kPackage, FaultTarget::kPackage},
    {ServerFaultKind::kOtherDevice, "other-device", FaultTarget::kPackage, FaultTarget::kPackage},
    {ServerFaultKind::kTruncatedBody, "truncated-body", FaultTarget::kBoth, FaultTarget::kBoth},
    {ServerFaultKind::kErrorPage, "error-page", FaultTarget::kBoth, FaultTarget::kBoth},
    {ServerFaultKind::kSlow, "slow", FaultTarget::kBoth, FaultTarget::kBoth},
    {ServerFaultKind::kDropConnection, "drop-connection", FaultTarget::kBoth, FaultTarget::kBoth},
};
static_assert(std::size(kKinds) == kServerFaultKindCount, "one row per kind");

constexpr std::string_view TargetName(FaultTarget target) {
  switch (target) {
    case FaultTarget::kList:
      return "list";
    case FaultTarget::kPackage:
      return "package";
    case FaultTarget::kBoth:
      return "both";
  }
  return "both";
}

FaultParse Fail(std::string_view text, std::string_view why) {
  return {std::nullopt, "bad fault \"" + std::string(text) + "\": " + std::string(why)};
}

}  // namespace

FaultParse ParseServerFault(std::string_view text) {
  std::string_view rest = text;
  std::optional<FaultTarget> target;
  for (const FaultTarget t : {FaultTarget::kList, FaultTarget::kPackage, FaultTarget::kBoth}) {
    const std::string prefix = std::string(TargetName(t)) + ":";
    if (rest.starts_with(prefix)) {
      target = t;
      rest.remove_prefix(prefix.size());
      break;
    }
  }

  std::string_view kindName = rest;
  std::string_view argument;
  const std::size_t colon = rest.find(':');
  if (colon != std::string_view::npos) {
    kindName = rest.substr(0, colon);
    argument = rest.substr(colon + 1);
  }

  for (const KindInfo& info : kKinds) {
    if (info.name != kindName) {
      continue;
    }
    ServerFault fault;
    fault.kind = info.kind;
    fault.target = target.value_or(info.natural);
    if (info.allowed != FaultTarget::kBoth && fault.target != info.allowed) {
      return Fail(text, std::string(info.name) + " applies to the " +
                            std::string(TargetName(info.allowed)) + " only");
    }
    if (info.kind == ServerFaultKind::kSlow) {
      int ms = -1;
      const char* end = argument.data() + argument.size();
      const auto [ptr, ec] = std::from_chars(argument.data(), end, ms);
      if (argument.empty() || ec != std::errc{} || ptr != end || ms < 0) {
        return Fail(text, "slow needs a delay in milliseconds, as in slow:500");
      }
      fault.delay = std::chrono::milliseconds{ms};
    } else if (colon != std::string_view::npos) {
      return Fail(text, std::string(info.name) + " takes no argument");
    }
    return {fault, ""};
  }
  std::string known;
  for (const KindInfo& info : kKinds) {
    known += known.empty() ? "" : ", ";
    known += info.kind == ServerFaultKind::kSlow ? "slow:MS" : std::string(info.name);
  }
  return Fail(text, "unknown fault (known: " + known + ")");
}

std::string FaultText(const ServerFault& fault) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == fault.kind) {
      std::string text(TargetName(fault.target));
      text += ':';
      text += info.name;
      if (fault.kind == ServerFaultKind::kSlow) {
        text += ':';
        text += std::to_string(fault.delay.count());
      }
      return text;
    }
  }
  return "unknown";
}

}  // namespace brintel::sim
