#pragma once

#include <functional>
#include <optional>
#include <string>

#include "device/SerialPort.h"
#include "engine/UpgradeEngine.h"
#include "run/ReportingHttpClient.h"
#include "run/RunClock.h"
#include "run/RunHost.h"
#include "run/TickPacer.h"
#include "server/GbkDecoder.h"
#include "server/HttpClient.h"

namespace brintel::run {

// One upgrade run of a front end without a window: the engine on its port,
// HTTP client and host, ticked from Start until it stops by itself, is
// interrupted, or hits a time limit. Ticks come every 5 ms, and at once when
// bytes arrive or the engine has ready work (TickPacer). A single run and
// every channel of a station drive the engine through it.
class UpgradeRun {
 public:
  using time_point = RunClock::time_point;

  struct Settings {
    std::string defaultServer = BRINTEL_DEFAULT_SERVER;  // host[:port]
    // Seconds a search may go without a display; none: until interrupted.
    std::optional<double> searchTimeout;
    // Seconds the transfer may go without a valid exchange with the right
    // display, once it was identified or another display answered in its
    // place; none: until interrupted.
    std::optional<double> silenceTimeout;
    // Another display answering in the transfer ends the run at once (a
    // station then takes it as the next unit); otherwise the run waits for the
    // right display within the silence limit.
    bool endOnOtherDisplay = false;
    // A port that can never be opened as it is (permission, not a tty) ends
    // the run; for ports named by the user, not for a scan of the machine.
    bool endOnLastingOpenError = false;
    bool showOpenErrors = false;  // note why a port would not open, once per reason
    // Waits until the port has bytes queued (true) or the time given (false);
    // empty: the clock sleeps until then, so ticks come only every 5 ms.
    std::function<bool(time_point)> waitForInput = {};
  };

  enum class Ending {
    kStopped,        // the engine ended the run: completed, refused or failed
    kInterrupted,    // Stop from outside (Ctrl-C)
    kNoDisplay,      // the search found no display within the time limit
    kDisplaySilent,  // the right display stopped answering
    kOtherDisplay,   // a display the package was not made for answered in the transfer
    kPortUnusable,   // a named port can never be opened as it is
  };

  UpgradeRun(RunHost& host, SerialPort& port, HttpClient& http, const GbkDecoder& gbk,
             RunClock& clock, Settings settings);

  // Runs until the run ends; `interrupted` is asked before every tick and
  // `afterTick`, when given, called after each.
  Ending Run(const std::function<bool()>& interrupted, const std::function<void()>& afterTick = {});

  const UpgradeEngine& engine() const { return engine_; }
  // Blocks may have gone out since the display was identified in the transfer.
  bool Writing() const;

 private:
  Ending Stop(Ending ending, const std::string& why, std::optional<double> seconds);
  // The search or the silence went on too long: the run is stopped.
  std::optional<Ending> OverLimit(time_point now);
  // Waits for the next tick and tells what brought it.
  TickPacer::Cause AwaitTick(TickPacer& pacer);
  bool PortUnusable();
  // Says once which display answered and which one the program is for; true
  // when the run must end (the station's choice, or blocks were written into
  // the right display, which lost its power when it was taken away).
  bool OtherDisplayAnswered();
  void AdviseIfMidProgram();
  bool AmidEcho() const;

  RunHost& host_;
  SerialPort& port_;
  RunClock& clock_;
  Settings settings_;
  ReportingHttpClient http_;
  UpgradeEngine engine_;
  bool writing_ = false;
  std::string otherToldOf_;  // the other display already named in a note
  // What the loop watches from tick to tick.
  struct Watch {
    bool wasSearching = false;
    time_point searchingSince{};
    bool watchingSilence = false;  // identified, or another display answered
    std::uint64_t exchangesSeen = 0;
    time_point answeredAt{};  // the latest valid exchange with the right display
    int otherDisplaysSeen = 0;
    std::string lastOpenError;
  } watch_;
};

}  // namespace brintel::run
