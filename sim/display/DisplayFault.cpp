#include "sim/display/DisplayFault.h"

#include <array>
#include <charconv>
#include <vector>

#include "device/SendBlock.h"

namespace brintel::sim {
namespace {

struct Form {
  std::string_view name;
  FaultKind kind;
  std::string_view arguments;  // as shown in messages
  std::size_t minArgs;
  std::size_t maxArgs;
};

constexpr std::array<Form, 10> kForms = {{
    {"ignore-probe", FaultKind::kIgnoreProbe, "N", 1, 1},
    {"wrong-reply", FaultKind::kWrongReply, "N", 1, 1},
    {"short-frame", FaultKind::kShortFrame, "N", 1, 1},
    {"invalid-frame", FaultKind::kInvalidFrame, "N", 1, 1},
    {"wrong-echo", FaultKind::kWrongEcho, "B:POS", 2, 2},
    {"retry-block", FaultKind::kRetryBlock, "B", 1, 1},
    {"stray-before-ack", FaultKind::kStrayBeforeAck, "B:N", 2, 2},
    {"no-ack", FaultKind::kNoAck, "B", 1, 1},
    {"unplug-after", FaultKind::kUnplugAfter, "N[:REPLUG_MS]", 1, 2},
    {"silent-after", FaultKind::kSilentAfter, "N", 1, 1},
}};

constexpr int kLastBlock = BLOCK_COUNT - 1;
constexpr int kLastPosition = static_cast<int>(BLOCK_SIZE) - 1;
constexpr int kMaxCount = 1'000'000;
constexpr int kMaxStray = 1000;
constexpr int kMaxReplugMs = 600'000;

const Form* FindForm(FaultKind kind) {
  for (const Form& form : kForms) {
    if (form.kind == kind) {
      return &form;
    }
  }
  return nullptr;
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

}  // namespace

ParsedFault ParseFault(std::string_view text) {
  const std::vector<std::string_view> parts = SplitColons(text);
  const Form* form = nullptr;
  for (const Form& candidate : kForms) {
    if (candidate.name == parts[0]) {
      form = &candidate;
    }
  }
  if (form == nullptr) {
    return {std::nullopt,
            "unknown fault '" + std::string(text) + "'; the faults are:\n" + FaultForms()};
  }
  const std::size_t argCount = parts.size() - 1;
  const std::string usage = std::string(form->name) + ":" + std::string(form->arguments);
  if (argCount < form->minArgs || argCount > form->maxArgs) {
    return {std::nullopt, "fault '" + std::string(text) + "' must be written " + usage};
  }

  struct Range {
    std::string_view what;
    int low;
    int high;
  };
  std::array<Range, 2> ranges{};
  switch (form->kind) {
    case FaultKind::kIgnoreProbe:
    case FaultKind::kWrongReply:
    case FaultKind::kShortFrame:
    case FaultKind::kInvalidFrame:
      ranges = {{{"N", 1, kMaxCount}}};
      break;
    case FaultKind::kWrongEcho:
      ranges = {{{"B", 0, kLastBlock}, {"POS", 0, kLastPosition}}};
      break;
    case FaultKind::kRetryBlock:
    case FaultKind::kNoAck:
      ranges = {{{"B", 0, kLastBlock}}};
      break;
    case FaultKind::kStrayBeforeAck:
      ranges = {{{"B", 0, kLastBlock}, {"N", 1, kMaxStray}}};
      break;
    case FaultKind::kUnplugAfter:
      ranges = {{{"N", 1, BLOCK_COUNT}, {"REPLUG_MS", 0, kMaxReplugMs}}};
      break;
    case FaultKind::kSilentAfter:
      ranges = {{{"N", 1, BLOCK_COUNT - 1}}};
      break;
  }
  std::array<int, 2> values{};
  for (std::size_t i = 0; i < argCount; ++i) {
    const std::optional<int> value = ReadNumber(parts[i + 1], ranges[i].low, ranges[i].high);
    if (!value) {
      return {std::nullopt, "fault '" + std::string(text) + "': " + std::string(ranges[i].what) +
                                " must be a whole number from " + std::to_string(ranges[i].low) +
                                " to " + std::to_string(ranges[i].high) + " (" + usage + ")"};
    }
    values[i] = *value;
  }

  Fault fault;
  fault.kind = form->kind;
  switch (form->kind) {
    case FaultKind::kIgnoreProbe:
    case FaultKind::kWrongReply:
    case FaultKind::kShortFrame:
    case FaultKind::kInvalidFrame:
      fault.remaining = values[0];
      break;
    case FaultKind::kWrongEcho:
    case FaultKind::kStrayBeforeAck:
      fault.block = values[0];
      fault.amount = values[1];
      break;
    case FaultKind::kRetryBlock:
    case FaultKind::kNoAck:
    case FaultKind::kSilentAfter:
      fault.block = values[0];
      break;
    case FaultKind::kUnplugAfter:
      fault.block = values[0];
      if (argCount == 2) {
        fault.replugAfter = std::chrono::milliseconds(values[1]);
      }
      break;
  }
  return {fault, {}};
}

std::string FormatFault(const Fault& fault) {
  const Form* form = FindForm(fault.kind);
  std::string text(form != nullptr ? form->name : "?");
  const auto add = [&text](auto number) {
    text += ':';
    text += std::to_string(number);
  };
  switch (fault.kind) {
    case FaultKind::kIgnoreProbe:
    case FaultKind::kWrongReply:
    case FaultKind::kShortFrame:
    case FaultKind::kInvalidFrame:
      add(fault.remaining + fault.fired);
      break;
    case FaultKind::kWrongEcho:
    case FaultKind::kStrayBeforeAck:
      add(fault.block);
      add(fault.amount);
      break;
    case FaultKind::kRetryBlock:
    case FaultKind::kNoAck:
    case FaultKind::kSilentAfter:
      add(fault.block);
      break;
    case FaultKind::kUnplugAfter:
      add(fault.block);
      if (fault.replugAfter) {
        add(fault.replugAfter->count());
      }
      break;
  }
  return text;
}

std::string FaultForms() {
  std::string text;
  for (const Form& form : kForms) {
    text += text.empty() ? "  " : "\n  ";
    text += std::string(form.name) + ":" + std::string(form.arguments);
  }
  return text;
}

}  // namespace brintel::sim
