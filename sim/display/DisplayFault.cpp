#include "sim/display/DisplayFault.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <span>
#include <vector>

#include "device/SendBlock.h"
#include "sim/FaultForms.h"

namespace brintel::sim {
namespace {

// Where an argument lives in a Fault; Read gives nothing for an optional one left unset.
struct Field {
  void (*write)(Fault&, int);
  std::optional<long long> (*read)(const Fault&);
};

// A count is written back as given, however often the fault has fired since.
constexpr Field kRemaining{
    [](Fault& fault, int value) { fault.remaining = value; },
    [](const Fault& fault) -> std::optional<long long> { return fault.remaining + fault.fired; }};
constexpr Field kBlock{[](Fault& fault, int value) { fault.block = value; },
                       [](const Fault& fault) -> std::optional<long long> { return fault.block; }};
constexpr Field kAmount{
    [](Fault& fault, int value) { fault.amount = value; },
    [](const Fault& fault) -> std::optional<long long> { return fault.amount; }};
constexpr Field kReplugAfter{
    [](Fault& fault, int value) { fault.replugAfter = std::chrono::milliseconds(value); },
    [](const Fault& fault) -> std::optional<long long> {
      if (!fault.replugAfter) {
        return std::nullopt;
      }
      return fault.replugAfter->count();
    }};

constexpr Field kSwapAfter{
    [](Fault& fault, int value) { fault.swapAfter = std::chrono::milliseconds(value); },
    [](const Fault& fault) -> std::optional<long long> {
      if (!fault.swapAfter) {
        return std::nullopt;
      }
      return fault.swapAfter->count();
    }};

struct Argument {
  std::string_view name;  // empty: no such argument
  int low = 0;
  int high = 0;
  Field field{};
  bool canOmit = false;   // only after every argument that cannot
  bool identity = false;  // 16 hex digits into Fault::identity instead of a number
};

constexpr int kLastBlock = BLOCK_COUNT - 1;
constexpr int kLastPosition = static_cast<int>(BLOCK_SIZE) - 1;

constexpr Argument kTimes{"N", 1, 1'000'000, kRemaining};
constexpr Argument kBlockNumber{"B", 0, kLastBlock, kBlock};
constexpr Argument kEchoPosition{"POS", 0, kLastPosition, kAmount};
constexpr Argument kStrayBytes{"N", 1, 1000, kAmount};
constexpr Argument kUnplugBlocks{"N", 1, BLOCK_COUNT, kBlock};
constexpr Argument kReplugMs{"REPLUG_MS", 0, 600'000, kReplugAfter, true};
constexpr Argument kSilentBlocks{"N", 1, BLOCK_COUNT - 1, kBlock};
constexpr Argument kAcceptedBlocks{"B", 0, BLOCK_COUNT, kBlock};
constexpr Argument kSwapIdentity{"IDENTITY", 0, 0, {}, false, true};
constexpr Argument kSwapMs{"MS", 0, 600'000, kSwapAfter, true};

struct Form {
  std::string_view name;
  FaultKind kind;
  std::array<Argument, 3> arguments;
  std::string_view help;
};

constexpr Form kForms[] = {
    {"ignore-probe", FaultKind::kIgnoreProbe, {kTimes}, "no answer to the next N probes"},
    {"wrong-reply", FaultKind::kWrongReply, {kTimes}, "0x9D instead of 0x9C, no frame"},
    {"short-frame", FaultKind::kShortFrame, {kTimes}, "0x9C and only 7 frame bytes"},
    {"invalid-frame", FaultKind::kInvalidFrame, {kTimes}, "0x4F where the frame holds 0x4E"},
    {"wrong-echo",
     FaultKind::kWrongEcho,
     {kBlockNumber, kEchoPosition},
     "one wrong echo byte, then a retry"},
    {"retry-block", FaultKind::kRetryBlock, {kBlockNumber}, "a retry acknowledgement"},
    {"stray-before-ack",
     FaultKind::kStrayBeforeAck,
     {kBlockNumber, kStrayBytes},
     "N other bytes before the acceptance"},
    {"no-ack", FaultKind::kNoAck, {kBlockNumber}, "echo complete, then silence"},
    {"unplug-after",
     FaultKind::kUnplugAfter,
     {kUnplugBlocks, kReplugMs},
     "gone after N acceptances, back after REPLUG_MS"},
    {"silent-after",
     FaultKind::kSilentAfter,
     {kSilentBlocks},
     "no power after N acceptances, port stays"},
    {"swap-after",
     FaultKind::kSwapAfter,
     {kAcceptedBlocks, kSwapIdentity, kSwapMs},
     "display IDENTITY in its place MS after B acceptances, same port"},
    {"babble-after",
     FaultKind::kBabbleAfter,
     {kAcceptedBlocks},
     "after B acceptances one more answer, then 0x00 at 960/s"},
    {"flood", FaultKind::kFlood, {}, "0x00 at 960/s from power-on, no answers"},
};

std::span<const Argument> ArgumentsOf(const Form& form) {
  const auto end = std::find_if(form.arguments.begin(), form.arguments.end(),
                                [](const Argument& argument) { return argument.name.empty(); });
  return {form.arguments.begin(), end};
}

// "N[:REPLUG_MS]", as shown in messages.
std::string Usage(const Form& form) {
  std::string text(form.name);
  for (const Argument& argument : ArgumentsOf(form)) {
    text += argument.canOmit ? "[:" : ":";
    text += argument.name;
    if (argument.canOmit) {
      text += ']';
    }
  }
  return text;
}

std::string FormLines(bool help) {
  std::vector<FaultForm> forms;
  for (const Form& form : kForms) {
    forms.push_back({Usage(form), form.help});
  }
  return FaultFormLines(forms, help);
}

std::vector<std::string_view> SplitColons(std::string_view text) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t colon = text.find(':');
    parts.push_back(text.substr(0, colon));
    if (colon == std::string_view::npos) {
      return parts;
    }
    text.remove_prefix(colon + 1);
  }
}

// A decimal number in [low, high]; the whole text must be digits.
std::optional<int> ReadNumber(std::string_view text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (text.empty() || status != std::errc{} || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

bool IsIdentity(std::string_view text) {
  return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

}  // namespace

FaultParseResult<Fault> ParseFault(std::string_view text) {
  const std::vector<std::string_view> parts = SplitColons(text);
  const auto form =
      std::find_if(std::begin(kForms), std::end(kForms),
                   [&parts](const Form& candidate) { return candidate.name == parts[0]; });
  if (form == std::end(kForms)) {
    return {std::nullopt,
            "unknown fault '" + std::string(text) + "'; the faults are:\n" + FormLines(false)};
  }
  const std::span<const Argument> arguments = ArgumentsOf(*form);
  const auto required = static_cast<std::size_t>(
      std::count_if(arguments.begin(), arguments.end(),
                    [](const Argument& argument) { return !argument.canOmit; }));
  const std::size_t given = parts.size() - 1;
  if (given < required || given > arguments.size()) {
    return {std::nullopt, "fault '" + std::string(text) + "' must be written " + Usage(*form)};
  }

  Fault fault;
  fault.kind = form->kind;
  for (std::size_t i = 0; i < given; ++i) {
    const Argument& argument = arguments[i];
    if (argument.identity) {
      if (!IsIdentity(parts[i + 1])) {
        return {std::nullopt, "fault '" + std::string(text) + "': " + std::string(argument.name) +
                                  " must be 16 hexadecimal digits (" + Usage(*form) + ")"};
      }
      fault.identity = std::string(parts[i + 1]);
      continue;
    }
    const std::optional<int> value = ReadNumber(parts[i + 1], argument.low, argument.high);
    if (!value) {
      return {std::nullopt, "fault '" + std::string(text) + "': " + std::string(argument.name) +
                                " must be a whole number from " + std::to_string(argument.low) +
                                " to " + std::to_string(argument.high) + " (" + Usage(*form) + ")"};
    }
    argument.field.write(fault, *value);
  }
  return {fault, {}};
}

std::string FormatFault(const Fault& fault) {
  const auto form =
      std::find_if(std::begin(kForms), std::end(kForms),
                   [&fault](const Form& candidate) { return candidate.kind == fault.kind; });
  if (form == std::end(kForms)) {
    return "?";
  }
  std::string text(form->name);
  for (const Argument& argument : ArgumentsOf(*form)) {
    if (argument.identity) {
      text += ':' + fault.identity;
    } else if (const std::optional<long long> value = argument.field.read(fault)) {
      text += ':' + std::to_string(*value);
    }
  }
  return text;
}

std::string FaultForms() {
  return FormLines(true);
}

}  // namespace brintel::sim
