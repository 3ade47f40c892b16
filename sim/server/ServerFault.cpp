#include "sim/server/ServerFault.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "sim/FaultForms.h"

namespace brintel::sim {
namespace {

struct KindInfo {
  ServerFaultKind kind;
  std::string_view name;
  std::string_view argument;  // empty, or the name of its one argument: a delay in ms
  FaultTarget natural;        // what it hits without a target
  FaultTarget allowed;        // what it can hit; kBoth when either
  std::string_view help;
};

constexpr KindInfo kKinds[] = {
    {ServerFaultKind::kNoSeparator, "no-separator", "", FaultTarget::kList, FaultTarget::kBoth,
     "list \"NOPROGRAMS\", or (package: asked for) the package without its \"_\""},
    {ServerFaultKind::kEmptyKey, "empty-key", "", FaultTarget::kList, FaultTarget::kList,
     "list \"_name1_...\": nothing before the first \"_\""},
    {ServerFaultKind::kLongKey, "long-key", "", FaultTarget::kList, FaultTarget::kList,
     "a 33-byte list key, one more than the tool's key area"},
    {ServerFaultKind::kShortBody, "short-body", "", FaultTarget::kPackage, FaultTarget::kPackage,
     "the package cut to 29999 bytes, one under the tool's minimum"},
    {ServerFaultKind::kNonHex, "non-hex", "", FaultTarget::kPackage, FaultTarget::kPackage,
     "one payload digit of the package, mid-payload, replaced by \"G\""},
    {ServerFaultKind::kOtherDevice, "other-device", "", FaultTarget::kPackage,
     FaultTarget::kPackage, "a complete package made and keyed for another id"},
    {ServerFaultKind::kTruncatedBody, "truncated-body", "", FaultTarget::kBoth, FaultTarget::kBoth,
     "Content-Length of the whole reply, connection closed after half"},
    {ServerFaultKind::kErrorPage, "error-page", "", FaultTarget::kBoth, FaultTarget::kBoth,
     "HTTP 500 with an HTML page"},
    {ServerFaultKind::kSlow, "slow", "MS", FaultTarget::kBoth, FaultTarget::kBoth,
     "the reply held back MS milliseconds"},
    {ServerFaultKind::kDropConnection, "drop-connection", "", FaultTarget::kBoth,
     FaultTarget::kBoth, "the connection closed without any reply"},
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

// "slow:MS", as shown in messages.
std::string Form(const KindInfo& info) {
  return info.argument.empty() ? std::string(info.name)
                               : std::string(info.name) + ":" + std::string(info.argument);
}

FaultParseResult<ServerFault> Fail(std::string_view text, std::string_view why) {
  return {std::nullopt, "bad fault \"" + std::string(text) + "\": " + std::string(why)};
}

}  // namespace

FaultParseResult<ServerFault> ParseServerFault(std::string_view text) {
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
    if (!info.argument.empty()) {
      int ms = -1;
      const char* end = argument.data() + argument.size();
      const auto [ptr, ec] = std::from_chars(argument.data(), end, ms);
      if (argument.empty() || ec != std::errc{} || ptr != end || ms < 0) {
        return Fail(text, std::string(info.name) + " needs a delay in milliseconds, as in " +
                              std::string(info.name) + ":500");
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
    known += Form(info);
  }
  return Fail(text, "unknown fault (known: " + known + ")");
}

std::string FaultText(const ServerFault& fault) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == fault.kind) {
      std::string text(TargetName(fault.target));
      text += ':';
      text += info.name;
      if (!info.argument.empty()) {
        text += ':';
        text += std::to_string(fault.delay.count());
      }
      return text;
    }
  }
  return "unknown";
}

std::string ServerFaultForms() {
  std::vector<FaultForm> forms;
  for (const KindInfo& info : kKinds) {
    forms.push_back({Form(info), info.help});
  }
  return FaultFormLines(forms, true);
}

}  // namespace brintel::sim
