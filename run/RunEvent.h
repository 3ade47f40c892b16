#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/BlockCounts.h"
#include "run/UnitOutcome.h"

namespace brintel::run {

// What happened on one channel, for the terminal view, the JSON stream and the
// records alike.
struct RunEvent {
  enum class Kind {
    kStatus,         // text: the status box
    kMessage,        // caption, text: a message box, answered at once
    kProgress,       // blocks: accepted so far
    kTitle,          // text: the package's title
    kPictures,       // leftPicture, rightPicture
    kNote,           // text: a hint or the reason a run gave up
    kRequestFailed,  // url, detail: why a server request failed
    kUnitStarted,    // port, deviceId: a display was found
    kUnitEnded,      // all of the unit: outcome, counts, seconds, what it got
  };

  int channel = 1;
  std::chrono::system_clock::time_point at = std::chrono::system_clock::now();
  Kind kind = Kind::kStatus;
  std::string text;
  std::string caption;
  int blocks = 0;
  std::uint16_t leftPicture = 0;
  std::uint16_t rightPicture = 0;
  std::string port;
  std::string deviceId;
  UnitOutcome outcome = UnitOutcome::kStopped;
  BlockCounts counts;
  double seconds = 0;
  std::string transferDeviceId;  // as the transfer read it; the other display's for kOtherDisplay
  std::string program;           // UTF-8
  std::string title;             // UTF-8
  std::string listUrl;
  std::string url;                   // the failed request
  std::string detail;                // why a request failed; for a unit, its last failure
  std::vector<std::string> offered;  // the names the list held

  static RunEvent Of(Kind kind, std::string text = {}) {
    RunEvent event;
    event.kind = kind;
    event.text = std::move(text);
    return event;
  }
};

using RunListener = std::function<void(const RunEvent&)>;

}  // namespace brintel::run
