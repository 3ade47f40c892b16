#pragma once

namespace brintel {

// Why the engine's latest run ended, decided where the engine ends it. Front
// ends and records read it; nothing works it out again from the messages.
enum class RunEnd {
  kNone,                    // running, or never started
  kCompleted,               // the 70th block was accepted
  kStopped,                 // Stop during a run
  kListServerError,         // the list request failed ("Program error!", "fail")
  kListRefused,             // the list holds no usable key or names
  kNoProgramChosen,         // the choice was not ended with OK
  kPackageServerError,      // the package request failed
  kPackageRefused,          // too short, or its payload ends early
  kPackageForOtherDisplay,  // its first 16 bytes name another display
  kPortLost,                // the identified display's port was lost mid-transfer
};

}  // namespace brintel
