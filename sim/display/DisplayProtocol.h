#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/IdentityFrame.h"
#include "device/SendBlock.h"
#include "sim/display/DisplayFault.h"

namespace brintel::sim {

using Clock = std::chrono::steady_clock;

// The frame a display with this identity (16 hex digits) sends, so that
// BuildDeviceLabel gives the identity back; empty when it is not 16 hex digits.
std::optional<IdentityFrame> BuildIdentityFrame(std::string_view identity);

struct DisplayCounters {
  std::uint64_t probesSeen = 0;
  std::uint64_t framesSent = 0;  // valid frames only
  std::uint64_t blocksReceived = 0;
  std::uint64_t blocksAccepted = 0;
  std::uint64_t retriesSent = 0;
  std::uint64_t faultsFired = 0;
  std::uint64_t receiveTimeouts = 0;  // a block expected and the line fell silent
  std::uint64_t programsCompleted = 0;
};

// The display's side of the byte protocol, without a line: bytes go in with
// the time they arrived, the bytes to send in reply come out. Makes no system
// call and never looks at a clock, so it can be driven at any pace.
class DisplayProtocol {
 public:
  struct Settings {
    IdentityFrame frame{};
    std::vector<Fault> faults;
    std::chrono::milliseconds interByteTimeout{100};
    std::chrono::milliseconds blockStartTimeout{2000};
    // How long the display takes to answer a probe; a probe that comes
    // meanwhile starts the wait again, other bytes then are ignored.
    std::chrono::milliseconds replyDelay{0};
    // When the display got its power: a flood and swap-after:0 count from
    // here. Empty: from the first time it is given (a byte or OnClock).
    std::optional<Clock::time_point> poweredAt;
  };

  struct Reaction {
    std::vector<std::uint8_t> bytes;  // to send, in this order
    bool programComplete = false;     // the 70th block was just accepted
    bool unplug = false;              // once the tool has read `bytes`
    std::optional<std::chrono::milliseconds> replugAfter;
    std::vector<std::string> notes;  // what happened, for a person watching

    void Clear();
  };

  explicit DisplayProtocol(Settings settings);

  // A byte from the tool, arrived at `at`; times must not go backwards.
  void OnByte(std::uint8_t byte, Clock::time_point at, Reaction& reaction);

  // Lets the receive time-outs expire up to `now` when no byte came, and sends
  // what is due by then without one (a delayed answer, a babble, a swap).
  void OnClock(Clock::time_point now, Reaction& reaction);

  // When the receive state gives up if nothing comes; empty while idle.
  std::optional<Clock::time_point> Deadline() const;

  // The earliest time from which OnClock has something to do; empty: nothing
  // until a byte comes.
  std::optional<Clock::time_point> NextEvent() const;

  // The line went away or the tool closed its port: a block in progress is
  // lost, and the next byte is read as a probe would be.
  void OnLineLost(std::string_view why, Reaction& reaction);

  // Unplugged: the display hangs on its USB cable, so it loses its power and
  // with it every block it took; it counts again from block 0 when it is back.
  // A tool that only closes its port leaves the display powered (OnLineLost).
  // The power is back from the next time it is given.
  void OnPowerLost(Reaction& reaction);

  // Another display takes this one's place behind the same adapter: this one
  // loses its power, the new one answers with `identity`'s frame from the next
  // time it is given. False, and nothing changes, when `identity` is not 16
  // hex digits.
  bool SwapDisplay(std::string_view identity, Reaction& reaction);

  const IdentityFrame& Frame() const { return settings_.frame; }  // of the display there now
  const std::vector<std::uint8_t>& Program() const { return program_; }
  bool Complete() const { return complete_; }
  bool AwaitingProbe() const { return state_ == State::kAwaitingProbe; }
  int AcceptedBlocks() const { return accepted_; }
  const DisplayCounters& Counters() const { return counters_; }
  const std::vector<Fault>& Faults() const { return settings_.faults; }

 private:
  enum class State {
    kAwaitingProbe,   // every byte but the probe is ignored
    kReceivingBlock,  // a valid frame went out: block bytes are echoed as they come
    kAnswering,       // a probe came; the answer goes out at replyDueAt_
  };

  void OnProbe(Clock::time_point at, Reaction& reaction);
  void Answer(Clock::time_point at, Reaction& reaction);
  void OnBlockByte(std::uint8_t byte, Clock::time_point at, Reaction& reaction);
  void FinishBlock(Clock::time_point at, Reaction& reaction);
  void AcceptBlock(Clock::time_point at, Reaction& reaction);
  void PowerUp(Clock::time_point at, Reaction& reaction);
  void ScheduleSwap(const Fault& fault, Clock::time_point after, Reaction& reaction);
  void Swap(const IdentityFrame& frame, std::string_view note, Reaction& reaction);
  void StartBabble(Clock::time_point at);
  void Babble(Clock::time_point now, Reaction& reaction);
  void DropPartialBlock(std::string_view why, Reaction& reaction);
  // The first fault of `kind` that still fires, limited to block `block` and
  // to `amount` when given, counted as fired; null when there is none.
  Fault* Fire(FaultKind kind, std::optional<int> block = std::nullopt,
              std::optional<int> amount = std::nullopt);

  Settings settings_;
  State state_ = State::kAwaitingProbe;
  Clock::time_point replyDueAt_{};
  std::vector<std::uint8_t> block_;  // wire order, as received
  bool echoSpoiled_ = false;
  bool powerless_ = false;  // silent-after fired: nothing is answered until a power cycle
  bool powered_ = false;    // false until the first time given after a power cycle
  std::optional<Clock::time_point> powerOnAt_;  // when that power came, if known
  struct PendingSwap {
    Clock::time_point at;
    IdentityFrame frame;
    std::string identity;
  };
  std::optional<PendingSwap> swap_;  // outlives a power cycle: it happens to the line
  bool babbleArmed_ = false;         // babble-after fired: the next answer is the last
  // Babbling since then, answering nothing: 0x00 at a 9600 baud line's rate.
  std::optional<Clock::time_point> babbleFrom_;
  std::uint64_t babbleSent_ = 0;
  Clock::time_point deadline_{};
  std::vector<std::uint8_t> program_;
  int accepted_ = 0;
  bool complete_ = false;
  DisplayCounters counters_;
};

}  // namespace brintel::sim
