#include "run/UnitWatch.h"

namespace brintel::run {

bool UnitWatch::AfterTick() {
  const UpgradeEngine& engine = run_.engine();
  bool startsNow = false;
  if (!started_ && engine.phase() != PHASE_SEARCH) {
    started_ = startsNow = true;
    startedAt_ = clock_.Now();
    port_ = engine.link().PortName();
    deviceId_ = engine.link().deviceId();
  }
  if (transferDeviceId_.empty() && run_.Writing()) {
    transferDeviceId_ = engine.link().deviceId();
  }
  return startsNow;
}

RunEvent UnitWatch::Started() const {
  RunEvent event = RunEvent::Of(RunEvent::Kind::kUnitStarted);
  event.port = port_;
  event.deviceId = deviceId_;
  return event;
}

RunEvent UnitWatch::Ended(UpgradeRun::Ending ending, bool stopped) const {
  const UpgradeEngine& engine = run_.engine();
  RunEvent event = RunEvent::Of(RunEvent::Kind::kUnitEnded);
  event.port = port_;
  event.deviceId = deviceId_;
  event.outcome = Outcome(ending, engine.endReason(), host_.refusal(), stopped);
  event.counts = engine.link().counts();
  event.seconds = std::chrono::duration<double>(clock_.Now() - startedAt_).count();
  // The display that answered in place of the right one.
  event.transferDeviceId = event.outcome == UnitOutcome::kOtherDisplay
                               ? engine.link().otherDeviceId()
                               : transferDeviceId_;
  event.program = host_.program();
  event.title = host_.title();
  event.listUrl = engine.listUrl();
  event.detail = host_.failure();
  event.url = host_.failedUrl();
  event.offered = host_.offered();
  return event;
}

UnitOutcome UnitWatch::Outcome(UpgradeRun::Ending ending, RunEnd end, RunHost::Refusal refusal,
                               bool stopped) {
  if (end == RunEnd::kCompleted) {
    return UnitOutcome::kCompleted;
  }
  if (stopped || ending == UpgradeRun::Ending::kInterrupted) {
    return UnitOutcome::kStopped;
  }
  switch (ending) {
    case UpgradeRun::Ending::kOtherDisplay:
      return UnitOutcome::kOtherDisplay;
    case UpgradeRun::Ending::kDisplaySilent:
      return UnitOutcome::kDisplaySilent;
    default:
      break;
  }
  switch (end) {
    case RunEnd::kPortLost:
      return UnitOutcome::kPortLost;
    case RunEnd::kNoProgramChosen:
      return refusal == RunHost::Refusal::kUnknownProgram ? UnitOutcome::kProgramNotOffered
                                                          : UnitOutcome::kStopped;
    case RunEnd::kListServerError:
    case RunEnd::kPackageServerError:
      return UnitOutcome::kServerError;
    case RunEnd::kListRefused:
      return UnitOutcome::kListRefused;
    case RunEnd::kPackageRefused:
      return UnitOutcome::kPackageRefused;
    case RunEnd::kPackageForOtherDisplay:
      return UnitOutcome::kOtherDevice;
    case RunEnd::kNone:
    case RunEnd::kStopped:
    case RunEnd::kCompleted:
      break;
  }
  return UnitOutcome::kStopped;
}

}  // namespace brintel::run
