#pragma once

#include <string>

#include "engine/UpgradeHost.h"

namespace brintel::cli {

// The window of one run as its driver sees it: the engine's host, plus what
// the driver needs to end the run and tell why.
class RunHost : public UpgradeHost {
 public:
  // Why a choice was refused, when it was not the user.
  enum class Refusal { kNone, kListPrinted, kUnknownProgram, kNoTerminal };

  virtual bool timerRunning() const = 0;
  virtual Refusal refusal() const = 0;
  // The text of the latest message box; empty before the first.
  virtual const std::string& lastMessage() const = 0;
  // A note that is no message box of the run (a hint, the reason for giving up).
  virtual void Note(const std::string& text) = 0;
};

}  // namespace brintel::cli
