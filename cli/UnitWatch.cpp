#include "cli/UnitWatch.h"

#include <algorithm>

#include "engine/Messages.h"
#include "records/UnitRecord.h"

namespace brintel::cli {
namespace {

bool Shown(const std::vector<std::string>& messages, const char* text) {
  return std::find(messages.begin(), messages.end(), text) != messages.end();
}

}  // namespace

bool UnitWatch::AfterTick() {
  const UpgradeEngine& engine = run_.engine();
  bool startsNow = false;
  if (!started_ && engine.phase() != PHASE_SEARCH) {
    started_ = startsNow = true;
    startedAt_ = std::chrono::steady_clock::now();
    port_ = engine.link().PortName();
  }
  reachedTransfer_ = reachedTransfer_ || engine.phase() == PHASE_TRANSFER;
  if (transferDeviceId_.empty() && run_.Writing()) {
    transferDeviceId_ = engine.link().deviceId();
  }
  return startsNow;
}

RunEvent UnitWatch::Started() const {
  RunEvent event = RunEvent::Of(RunEvent::Kind::kUnitStarted);
  event.port = port_;
  event.deviceId = run_.engine().link().deviceId();
  return event;
}

RunEvent UnitWatch::Ended(UpgradeRun::Ending ending, bool stopped) const {
  const UpgradeEngine& engine = run_.engine();
  RunEvent event = RunEvent::Of(RunEvent::Kind::kUnitEnded);
  event.port = port_;
  event.outcome = Outcome(ending, stopped);
  event.counts = engine.link().counts();
  event.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
  // The display that answered in place of the right one.
  event.transferDeviceId = ending == UpgradeRun::Ending::kOtherDisplay
                               ? engine.link().otherDeviceId()
                               : transferDeviceId_;
  event.program = host_.program();
  event.title = host_.title();
  const std::string& url = engine.requestUrl();
  event.listUrl = url.substr(0, url.find("&type="));
  event.offered = host_.offered();
  return event;
}

std::string UnitWatch::Outcome(UpgradeRun::Ending ending, bool stopped) const {
  namespace outcome = records::outcome;
  const std::vector<std::string>& shown = host_.messages();
  if (run_.engine().completed()) {
    return outcome::kCompleted;
  }
  if (stopped || ending == UpgradeRun::Ending::kInterrupted) {
    return outcome::kStopped;
  }
  if (ending == UpgradeRun::Ending::kOtherDisplay) {
    return outcome::kOtherDisplay;
  }
  if (ending == UpgradeRun::Ending::kDisplaySilent || Shown(shown, messages::kStopMidwayHint)) {
    return outcome::kPortLost;
  }
  if (host_.refusal() == RunHost::Refusal::kUnknownProgram) {
    return outcome::kProgramNotOffered;
  }
  if (Shown(shown, messages::kProgramError) || Shown(shown, messages::kFail)) {
    return outcome::kServerError;
  }
  if (Shown(shown, messages::kNoList)) {
    return outcome::kListRefused;
  }
  if (Shown(shown, messages::kNoPackage)) {
    return outcome::kPackageRefused;
  }
  // The package came whole, but for another display: dropped without a word.
  return !reachedTransfer_ && !host_.program().empty() ? outcome::kOtherDevice : outcome::kStopped;
}

}  // namespace brintel::cli
