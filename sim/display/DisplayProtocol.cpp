#include "sim/display/DisplayProtocol.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "sim/display/LineUnscrambling.h"

namespace brintel::sim {
namespace {

constexpr std::uint8_t WRONG_REPLY = 0x9D;
constexpr std::uint8_t SPOILED_FIXED_BYTE = 0x4F;  // in place of 0x4E
constexpr std::size_t FIXED_SLOT_SPOILED = 6;
constexpr std::size_t SHORT_FRAME_BYTES = 7;
constexpr std::uint8_t STRAY_BYTES[] = {0x00, 0x12};
constexpr std::uint8_t BABBLE_BYTE = 0x00;
constexpr std::int64_t BABBLE_PER_SECOND = 960;  // a 9600 baud line, 10 bits a byte
constexpr std::int64_t NS_PER_SECOND = 1'000'000'000;

// Bytes of a babble due `elapsed` after it began; split so hours do not overflow.
std::uint64_t BabbleDue(Clock::duration elapsed) {
  const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  if (ns <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(ns / NS_PER_SECOND * BABBLE_PER_SECOND +
                                    ns % NS_PER_SECOND * BABBLE_PER_SECOND / NS_PER_SECOND);
}

// How long after its beginning the babble's byte number `count` (from 1) is due.
Clock::duration BabbleTime(std::uint64_t count) {
  const auto whole = static_cast<std::int64_t>(count / BABBLE_PER_SECOND);
  const auto part = static_cast<std::int64_t>(count % BABBLE_PER_SECOND);
  const std::chrono::nanoseconds ns(
      whole * NS_PER_SECOND + (part * NS_PER_SECOND + BABBLE_PER_SECOND - 1) / BABBLE_PER_SECOND);
  return std::chrono::ceil<Clock::duration>(ns);
}

}  // namespace

std::optional<IdentityFrame> BuildIdentityFrame(std::string_view identity) {
  if (identity.size() != 16 || !std::all_of(identity.begin(), identity.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return std::nullopt;
  }
  // BuildDeviceLabel reads the digit pairs from these slots and adds these offsets.
  struct Pair {
    std::size_t slot;
    std::uint8_t offset;
  };
  static constexpr Pair kPairs[] = {{0, 0x20}, {1, 0x20}, {2, 0x20}, {3, 0x20},
                                    {4, 0x10}, {8, 0x10}, {9, 0x10}, {10, 0x10}};
  IdentityFrame frame{};
  for (std::size_t i = 0; i < std::size(kPairs); ++i) {
    const std::uint8_t value = ReadDigitPair(identity, static_cast<std::ptrdiff_t>(2 * i));
    frame[kPairs[i].slot] = static_cast<std::uint8_t>(value - kPairs[i].offset);
  }
  // The fixed bytes by which the tool tells a valid frame.
  frame[5] = 0x02;
  frame[6] = 0x4E;
  frame[7] = 0x00;
  return frame;
}

void DisplayProtocol::Reaction::Clear() {
  bytes.clear();
  programComplete = false;
  unplug = false;
  replugAfter.reset();
  notes.clear();
}

DisplayProtocol::DisplayProtocol(Settings settings)
    : settings_(std::move(settings)),
      powerOnAt_(settings_.poweredAt),
      program_(PROGRAM_SIZE, 0xFF) {
  block_.reserve(BLOCK_SIZE);
}

void DisplayProtocol::OnByte(std::uint8_t byte, Clock::time_point at, Reaction& reaction) {
  OnClock(at, reaction);
  if (powerless_ || babbleFrom_) {
    return;
  }
  switch (state_) {
    case State::kAwaitingProbe:
      if (byte == PROBE_BYTE) {
        OnProbe(at, reaction);
      }
      break;
    case State::kReceivingBlock:
      OnBlockByte(byte, at, reaction);
      break;
    case State::kAnswering:
      if (byte == PROBE_BYTE) {
        replyDueAt_ = at + settings_.replyDelay;
        reaction.notes.push_back("probe again before the answer: answering that one");
      }
      break;
  }
}

void DisplayProtocol::OnClock(Clock::time_point now, Reaction& reaction) {
  if (!powered_) {
    PowerUp(powerOnAt_.value_or(now), reaction);
  }
  switch (state_) {
    case State::kAwaitingProbe:
      break;
    case State::kAnswering:
      if (now >= replyDueAt_) {
        state_ = State::kAwaitingProbe;
        Answer(replyDueAt_, reaction);
      }
      break;
    case State::kReceivingBlock:
      if (now > deadline_) {
        ++counters_.receiveTimeouts;
        DropPartialBlock(block_.empty() ? "no block came" : "the block stopped", reaction);
      }
      break;
  }
  // Only here, never behind the byte that set it off: the tool gets the
  // acknowledgement, and a completed program is still there to be read.
  if (swap_ && now >= swap_->at) {
    const PendingSwap swap = std::move(*swap_);
    swap_.reset();
    Babble(swap.at, reaction);
    Swap(swap.frame, "swapped for display " + swap.identity + " (swap-after)", reaction);
    PowerUp(swap.at, reaction);
  }
  Babble(now, reaction);
}

std::optional<Clock::time_point> DisplayProtocol::NextEvent() const {
  std::optional<Clock::time_point> next;
  const auto consider = [&next](Clock::time_point at) {
    if (!next || at < *next) {
      next = at;
    }
  };
  if (state_ == State::kReceivingBlock) {
    consider(deadline_ + Clock::duration(1));  // expires once the clock is past it
  } else if (state_ == State::kAnswering) {
    consider(replyDueAt_);
  }
  if (swap_) {
    consider(swap_->at);
  }
  if (babbleFrom_) {
    consider(*babbleFrom_ + BabbleTime(babbleSent_ + 1));
  }
  return next;
}

std::optional<Clock::time_point> DisplayProtocol::Deadline() const {
  switch (state_) {
    case State::kAwaitingProbe:
      return std::nullopt;
    case State::kReceivingBlock:
      return deadline_;
    case State::kAnswering:
      return replyDueAt_;
  }
  return std::nullopt;
}

void DisplayProtocol::OnLineLost(std::string_view why, Reaction& reaction) {
  switch (state_) {
    case State::kAwaitingProbe:
      break;
    case State::kAnswering:
      state_ = State::kAwaitingProbe;  // no one left to answer
      break;
    case State::kReceivingBlock:
      if (block_.empty()) {
        state_ = State::kAwaitingProbe;  // the usual end of an identification
      } else {
        DropPartialBlock(why, reaction);
      }
      break;
  }
}

void DisplayProtocol::OnPowerLost(Reaction& reaction) {
  OnLineLost("power lost", reaction);
  if (accepted_ > 0 || complete_) {
    reaction.notes.push_back("power lost: " + std::to_string(accepted_) + " blocks forgotten");
  }
  std::fill(program_.begin(), program_.end(), std::uint8_t{0xFF});
  accepted_ = 0;
  complete_ = false;
  powerless_ = false;
  powered_ = false;
  powerOnAt_.reset();
  babbleArmed_ = false;
  babbleFrom_.reset();
  babbleSent_ = 0;
}

bool DisplayProtocol::SwapDisplay(std::string_view identity, Reaction& reaction) {
  const std::optional<IdentityFrame> frame = BuildIdentityFrame(identity);
  if (!frame) {
    return false;
  }
  Swap(*frame, "swapped for display " + std::string(identity), reaction);
  return true;
}

void DisplayProtocol::Swap(const IdentityFrame& frame, std::string_view note, Reaction& reaction) {
  OnPowerLost(reaction);
  settings_.frame = frame;
  reaction.notes.emplace_back(note);
}

void DisplayProtocol::PowerUp(Clock::time_point at, Reaction& reaction) {
  powered_ = true;
  powerOnAt_ = at;
  // A flooding display floods again after every power cycle: it is broken, not upset.
  for (Fault& fault : settings_.faults) {
    if (fault.kind == FaultKind::kFlood) {
      ++fault.fired;
      ++counters_.faultsFired;
      StartBabble(at);
      reaction.notes.push_back("sending 0x00 without end, answering nothing (flood)");
      break;
    }
  }
  if (const Fault* swap = Fire(FaultKind::kSwapAfter, 0)) {
    ScheduleSwap(*swap, at, reaction);
  }
  if (Fire(FaultKind::kBabbleAfter, 0) != nullptr) {
    babbleArmed_ = true;
  }
}

void DisplayProtocol::ScheduleSwap(const Fault& fault, Clock::time_point after,
                                   Reaction& reaction) {
  const std::optional<IdentityFrame> frame = BuildIdentityFrame(fault.identity);
  if (!frame) {
    reaction.notes.push_back("swap-after: '" + fault.identity + "' is no identity");
    return;
  }
  swap_ = PendingSwap{after + fault.swapAfter.value_or(std::chrono::milliseconds(0)), *frame,
                      fault.identity};
}

void DisplayProtocol::StartBabble(Clock::time_point at) {
  babbleFrom_ = at;
  babbleSent_ = 0;
  state_ = State::kAwaitingProbe;
  block_.clear();
}

void DisplayProtocol::Babble(Clock::time_point now, Reaction& reaction) {
  if (!babbleFrom_) {
    return;
  }
  const std::uint64_t due = BabbleDue(now - *babbleFrom_);
  if (due > babbleSent_) {
    reaction.bytes.insert(reaction.bytes.end(), due - babbleSent_, BABBLE_BYTE);
    babbleSent_ = due;
  }
}

void DisplayProtocol::OnProbe(Clock::time_point at, Reaction& reaction) {
  ++counters_.probesSeen;
  if (complete_) {
    // A probe after a finished program begins the next upgrade.
    complete_ = false;
    accepted_ = 0;
  }
  if (Fire(FaultKind::kIgnoreProbe) != nullptr) {
    reaction.notes.push_back("probe ignored (ignore-probe)");
    return;
  }
  if (settings_.replyDelay.count() > 0) {
    state_ = State::kAnswering;
    replyDueAt_ = at + settings_.replyDelay;
    return;
  }
  Answer(at, reaction);
}

void DisplayProtocol::Answer(Clock::time_point at, Reaction& reaction) {
  if (Fire(FaultKind::kWrongReply) != nullptr) {
    reaction.bytes.push_back(WRONG_REPLY);
    reaction.notes.push_back("probe answered with 0x9D (wrong-reply)");
    return;
  }
  IdentityFrame frame = settings_.frame;
  std::size_t frameBytes = IDENTITY_FRAME_SIZE;
  bool valid = true;
  if (Fire(FaultKind::kShortFrame) != nullptr) {
    frameBytes = SHORT_FRAME_BYTES;
    valid = false;
    reaction.notes.push_back("frame cut short (short-frame)");
  } else if (Fire(FaultKind::kInvalidFrame) != nullptr) {
    frame[FIXED_SLOT_SPOILED] = SPOILED_FIXED_BYTE;
    valid = false;
    reaction.notes.push_back("frame sent with 0x4F (invalid-frame)");
  }
  reaction.bytes.push_back(PROBE_REPLY);
  // The tool fills the frame from slot 10 down, so slot 10 goes first.
  for (std::size_t i = 0; i < frameBytes; ++i) {
    reaction.bytes.push_back(frame[IDENTITY_FRAME_SIZE - 1 - i]);
  }
  if (!valid) {
    return;  // a tool that got no usable frame sends no block
  }
  ++counters_.framesSent;
  if (babbleArmed_) {
    babbleArmed_ = false;
    StartBabble(at);
    reaction.notes.push_back("sending 0x00 without end, answering nothing (babble-after)");
    return;
  }
  state_ = State::kReceivingBlock;
  block_.clear();
  echoSpoiled_ = false;
  deadline_ = at + settings_.blockStartTimeout;
}

void DisplayProtocol::OnBlockByte(std::uint8_t byte, Clock::time_point at, Reaction& reaction) {
  const auto position = static_cast<int>(block_.size());
  block_.push_back(byte);
  auto echo = static_cast<std::uint8_t>(~byte);
  if (!echoSpoiled_ && Fire(FaultKind::kWrongEcho, accepted_, position) != nullptr) {
    echo = static_cast<std::uint8_t>(echo ^ 0x01);
    echoSpoiled_ = true;
    reaction.notes.push_back("block " + std::to_string(accepted_) + ": wrong echo at " +
                             std::to_string(position) + " (wrong-echo)");
  }
  reaction.bytes.push_back(echo);
  deadline_ = at + settings_.interByteTimeout;
  if (block_.size() == BLOCK_SIZE) {
    FinishBlock(at, reaction);
  }
}

void DisplayProtocol::FinishBlock(Clock::time_point at, Reaction& reaction) {
  ++counters_.blocksReceived;
  state_ = State::kAwaitingProbe;
  const std::string name = "block " + std::to_string(accepted_);
  if (echoSpoiled_) {
    reaction.bytes.push_back(BLOCK_RETRY);
    ++counters_.retriesSent;
    reaction.notes.push_back(name + " refused after the wrong echo");
  } else if (Fire(FaultKind::kRetryBlock, accepted_) != nullptr) {
    reaction.bytes.push_back(BLOCK_RETRY);
    ++counters_.retriesSent;
    reaction.notes.push_back(name + " refused (retry-block)");
  } else if (Fire(FaultKind::kNoAck, accepted_) != nullptr) {
    reaction.notes.push_back(name + " left without acknowledgement (no-ack)");
  } else {
    if (const Fault* stray = Fire(FaultKind::kStrayBeforeAck, accepted_)) {
      for (int i = 0; i < stray->amount; ++i) {
        reaction.bytes.push_back(STRAY_BYTES[static_cast<std::size_t>(i) % std::size(STRAY_BYTES)]);
      }
      reaction.notes.push_back(name + ": " + std::to_string(stray->amount) +
                               " stray bytes before the acknowledgement (stray-before-ack)");
    }
    AcceptBlock(at, reaction);
  }
  block_.clear();
}

void DisplayProtocol::AcceptBlock(Clock::time_point at, Reaction& reaction) {
  // Blocks go out last segment first, each from its last byte to its first.
  const std::size_t segmentStart =
      BLOCK_SIZE * static_cast<std::size_t>(BLOCK_COUNT - 1 - accepted_);
  for (std::size_t k = 0; k < BLOCK_SIZE; ++k) {
    program_[segmentStart + (BLOCK_SIZE - 1 - k)] = UnscrambleByte(block_[k]);
  }
  reaction.bytes.push_back(BLOCK_ACCEPT);
  ++accepted_;
  ++counters_.blocksAccepted;
  reaction.notes.push_back("block " + std::to_string(accepted_ - 1) + " accepted");
  if (accepted_ == BLOCK_COUNT) {
    complete_ = true;
    ++counters_.programsCompleted;
    reaction.programComplete = true;
    reaction.notes.push_back("program complete");
  }
  if (Fire(FaultKind::kSilentAfter, accepted_) != nullptr) {
    powerless_ = true;
    reaction.notes.push_back("silent from now on, the port still there (silent-after)");
  }
  if (const Fault* swap = Fire(FaultKind::kSwapAfter, accepted_)) {
    ScheduleSwap(*swap, at, reaction);
  }
  if (Fire(FaultKind::kBabbleAfter, accepted_) != nullptr) {
    babbleArmed_ = true;
  }
  if (const Fault* unplug = Fire(FaultKind::kUnplugAfter, accepted_)) {
    reaction.unplug = true;
    reaction.replugAfter = unplug->replugAfter;
    reaction.notes.push_back("unplugging once the tool has the acknowledgement (unplug-after)");
  }
}

void DisplayProtocol::DropPartialBlock(std::string_view why, Reaction& reaction) {
  reaction.notes.push_back("block " + std::to_string(accepted_) + " dropped after " +
                           std::to_string(block_.size()) + " bytes: " + std::string(why));
  block_.clear();
  state_ = State::kAwaitingProbe;
}

Fault* DisplayProtocol::Fire(FaultKind kind, std::optional<int> block, std::optional<int> amount) {
  for (Fault& fault : settings_.faults) {
    if (fault.kind == kind && fault.remaining > 0 && (!block || fault.block == *block) &&
        (!amount || fault.amount == *amount)) {
      --fault.remaining;
      ++fault.fired;
      ++counters_.faultsFired;
      return &fault;
    }
  }
  return nullptr;
}

}  // namespace brintel::sim
