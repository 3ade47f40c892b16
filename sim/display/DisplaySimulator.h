#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/posix/UniqueFd.h"
#include "sim/display/DisplayFault.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/display/PacedLine.h"

namespace brintel::sim {

struct DisplayOptions {
  std::string identity = "1027262514131211";  // 16 hex digits
  // An existing serial device (or pty slave) to serve on; empty: create a pty.
  std::string devicePath;
  // A symbolic link made to point at the created pty's slave (replacing what is
  // there) and removed on Stop or Unplug while it still points there; empty: none.
  std::string linkPath;
  unsigned baud = 0;  // 0: bytes cross at once; else paced as a line at this rate
  std::vector<Fault> faults;
  std::string outputPath;  // the finished program is written here; empty: kept in memory only
  std::chrono::milliseconds interByteTimeout{100};
  std::chrono::milliseconds blockStartTimeout{2000};
  std::chrono::milliseconds replyDelay{0};  // how long each probe waits for its answer
  // Called on the simulator's thread with a line about each notable event;
  // it must not call Unplug or Replug, which wait for that thread.
  std::function<void(const std::string&)> log;
};

// The vehicle display on a pseudo-terminal: answers probes, takes blocks and
// keeps the program, on a thread of its own. Every public call is thread-safe.
class DisplaySimulator {
 public:
  // Throws std::invalid_argument when the identity is not 16 hex digits or a
  // link is asked for together with a device.
  explicit DisplaySimulator(DisplayOptions options);
  ~DisplaySimulator();

  DisplaySimulator(const DisplaySimulator&) = delete;
  DisplaySimulator& operator=(const DisplaySimulator&) = delete;

  // Opens the line and starts answering. Throws std::system_error when the pty,
  // the device or the link cannot be made. Once per object.
  void Start();

  // Stops the thread, closes the line and removes the link. Idempotent.
  void Stop();

  // The path a tool opens: the link when there is one, else the pty slave, or
  // the device itself when serving on one.
  std::string PortPath() const;

  std::vector<std::uint8_t> Program() const;
  bool Complete() const;
  DisplayCounters Counters() const;
  std::vector<Fault> Faults() const;
  std::uint64_t ProgramsWritten() const;

  // False once the tool has closed its end (a pty reads EIO until it is opened
  // again) and while unplugged. A pty no one has opened yet counts as attached.
  bool ToolAttached() const;

  // Like pulling the adapter out: the line closes, the tool's reads and writes
  // fail, the link disappears and the display forgets its blocks (it loses its
  // power). Returns once done. No effect when unplugged.
  void Unplug();

  // Like plugging it back: a new pty (or the device opened again) and the link
  // pointed at it. The display lost its power while unplugged: it holds no
  // block and counts from block 0 again. Returns once done.
  void Replug();
  bool Plugged() const;

  // Like another display put in behind an adapter that stays plugged in: the
  // line and the link stay, the display there loses its power (and its
  // blocks) and answers with `identity` from now on. Returns once done.
  // Throws std::invalid_argument when `identity` is not 16 hex digits.
  void SwapIdentity(const std::string& identity);

  // The identity of the display there now, 16 uppercase hex digits.
  std::string Identity() const;

 private:
  struct Outgoing {
    std::uint8_t byte;
    Clock::time_point due;
  };
  struct Request {
    enum class Kind { kUnplug, kReplug, kSwap } kind;
    std::string identity;  // kSwap
  };
  struct Incoming {
    std::uint8_t byte;
    Clock::time_point arrival;
    bool toolLeft;  // no byte: the tool closed its port after the bytes before
  };

  void Loop();
  void OpenLine();   // throws std::system_error
  void CloseLine();  // and remove the link
  void PointLink();  // throws std::system_error
  void RemoveLink();
  void ReadInput(Clock::time_point now);  // and notes the tool leaving
  void Process(Clock::time_point now, std::vector<std::string>& notes);
  void React(Clock::time_point at, std::vector<std::string>& notes);
  void WriteDue(Clock::time_point now);
  void DoUnplug(std::vector<std::string>& notes);
  void DoReplug(std::vector<std::string>& notes);
  void DoSwap(const std::string& identity, std::vector<std::string>& notes);
  void WriteProgram(std::vector<std::string>& notes);
  void Ask(Request request);
  std::optional<Clock::time_point> NextWake(Clock::time_point now) const;
  void Wake();

  DisplayOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable done_;
  DisplayProtocol protocol_;
  DisplayProtocol::Reaction reaction_;
  PacedLine line_;
  std::deque<Incoming> input_;
  std::deque<Outgoing> output_;
  UniqueFd fd_;
  std::string slavePath_;
  bool linkMade_ = false;
  bool hungUp_ = false;
  // When a read last found nothing queued.
  Clock::time_point lastSeenEmpty_{};
  bool writeBlocked_ = false;
  bool plugged_ = false;
  bool unplugPending_ = false;  // unplug-after fired: gone once the tool sends or closes
  std::optional<std::chrono::milliseconds> replugAfterUnplug_;
  std::optional<Clock::time_point> replugAt_;
  std::uint64_t requestsMade_ = 0;  // unplug, replug and swap calls from other threads
  std::uint64_t requestsDone_ = 0;
  std::deque<Request> requests_;
  bool outputOverflowing_ = false;  // the tool reads slower than the display sends
  std::uint64_t programsWritten_ = 0;
  bool started_ = false;
  bool stopping_ = false;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::thread thread_;
};

}  // namespace brintel::sim
