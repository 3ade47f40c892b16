#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brintel::sim {

// The ways the simulated display can misbehave on purpose. Block numbers count
// accepted blocks: block B is the one sent while B blocks were accepted.
enum class FaultKind {
  kIgnoreProbe,     // ignore-probe:N          no answer to the next N probes
  kWrongReply,      // wrong-reply:N           0x9D instead of 0x9C, no frame
  kShortFrame,      // short-frame:N           0x9C and only 7 frame bytes
  kInvalidFrame,    // invalid-frame:N         0x4F where the frame holds 0x4E
  kWrongEcho,       // wrong-echo:B:POS        one wrong echo byte, then a retry
  kRetryBlock,      // retry-block:B           a retry acknowledgement
  kStrayBeforeAck,  // stray-before-ack:B:N    N other bytes before the acceptance
  kNoAck,           // no-ack:B                echo complete, then silence
  kUnplugAfter,     // unplug-after:N[:MS]     gone after N acceptances, back after MS
  kSilentAfter,     // silent-after:N          no power after N acceptances, port stays
};

struct Fault {
  FaultKind kind = FaultKind::kIgnoreProbe;
  int remaining = 1;  // times it still fires: N for the probe faults, once for the others
  int block = 0;      // B; for unplug-after and silent-after the number of accepted blocks
  int amount = 0;     // wrong-echo: the wire position; stray-before-ack: how many bytes
  std::optional<std::chrono::milliseconds> replugAfter;  // unplug-after only
  int fired = 0;
};

struct ParsedFault {
  std::optional<Fault> fault;
  std::string error;  // set when `fault` is empty, fit to show to a person
};

// Reads one fault as written on the command line, e.g. "wrong-echo:3:17".
ParsedFault ParseFault(std::string_view text);

// The fault as ParseFault reads it, with its original count.
std::string FormatFault(const Fault& fault);

// The forms ParseFault accepts, one per line, for help texts.
std::string FaultForms();

}  // namespace brintel::sim
