#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "sim/FaultParseResult.h"

namespace brintel::sim {

// The ways the simulated display can misbehave on purpose; FaultForms tells
// what each does. Block numbers count accepted blocks: block B is the one sent
// while B blocks were accepted.
enum class FaultKind {
  kIgnoreProbe,
  kWrongReply,
  kShortFrame,
  kInvalidFrame,
  kWrongEcho,
  kRetryBlock,
  kStrayBeforeAck,
  kNoAck,
  kUnplugAfter,
  kSilentAfter,
  kSwapAfter,
  kBabbleAfter,
  kFlood,
};

struct Fault {
  FaultKind kind = FaultKind::kIgnoreProbe;
  int remaining = 1;  // times it still fires: N for the probe faults, once for the others
  // B; for unplug-after, silent-after, swap-after and babble-after the number of accepted blocks
  int block = 0;
  int amount = 0;  // wrong-echo: the wire position; stray-before-ack: how many bytes
  std::optional<std::chrono::milliseconds> replugAfter;  // unplug-after only
  std::string identity;                                  // swap-after: the display put in
  std::optional<std::chrono::milliseconds> swapAfter;    // swap-after: the wait after block B
  int fired = 0;
};

// Reads one fault as written on the command line, e.g. "wrong-echo:3:17".
FaultParseResult<Fault> ParseFault(std::string_view text);

// The fault as ParseFault reads it, with its original count.
std::string FormatFault(const Fault& fault);

// The forms ParseFault accepts with what each does, one per line, for help texts.
std::string FaultForms();

}  // namespace brintel::sim
