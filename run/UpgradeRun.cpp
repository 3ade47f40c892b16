#include "run/UpgradeRun.h"

#include <cstdio>

#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "run/TickPacer.h"

namespace brintel::run {
namespace {

// Without a time limit a wait goes on until interrupted.
RunClock::duration Limit(std::optional<double> seconds) {
  return seconds ? std::chrono::duration_cast<RunClock::duration>(
                       std::chrono::duration<double>(*seconds))
                 : RunClock::duration::max();
}

UpgradeEngine::Config EngineConfig(const UpgradeRun::Settings& settings) {
  return UpgradeEngine::Config{settings.defaultServer};
}

}  // namespace

UpgradeRun::UpgradeRun(RunHost& host, SerialPort& port, HttpClient& http, const GbkDecoder& gbk,
                       RunClock& clock, Settings settings)
    : host_(host),
      port_(port),
      clock_(clock),
      settings_(std::move(settings)),
      http_(http, host),
      engine_(
          host, port, http_, gbk,
          [&clock](int ms) { clock.SleepFor(std::chrono::milliseconds(ms)); },
          EngineConfig(settings_)) {}

bool UpgradeRun::Writing() const {
  return engine_.phase() == PHASE_TRANSFER && engine_.link().identified();
}

UpgradeRun::Ending UpgradeRun::Run(const std::function<bool()>& interrupted,
                                   const std::function<void()>& afterTick) {
  writing_ = false;
  otherToldOf_.clear();
  watch_ = {};
  engine_.OnStart();
  TickPacer pacer(clock_.Now());
  while (host_.timerRunning()) {
    if (interrupted()) {
      return Stop(Ending::kInterrupted, {}, {});
    }
    if (const std::optional<Ending> over = OverLimit(clock_.Now())) {
      return *over;
    }
    const TickPacer::Cause cause = AwaitTick(pacer);
    const DeviceLink& link = engine_.link();
    const std::uint64_t bytesBefore = link.bytesReceived();
    const time_point tickAt = clock_.Now();
    engine_.tick();
    pacer.Ticked(tickAt, cause, link.bytesReceived() != bytesBefore);
    writing_ = writing_ || Writing();
    const bool otherAnswered = link.counts().otherDisplays != watch_.otherDisplaysSeen;
    watch_.otherDisplaysSeen = link.counts().otherDisplays;
    if (!watch_.watchingSilence && (writing_ || otherAnswered)) {
      watch_.watchingSilence = true;
      watch_.exchangesSeen = link.validExchanges();
      watch_.answeredAt = clock_.Now();
    }
    if (afterTick) {
      afterTick();
    }
    if (otherAnswered && OtherDisplayAnswered()) {
      return Stop(Ending::kOtherDisplay, {}, {});
    }
    if (PortUnusable()) {
      return Stop(Ending::kPortUnusable, {}, {});
    }
  }
  AdviseIfMidProgram();
  return Ending::kStopped;
}

std::optional<UpgradeRun::Ending> UpgradeRun::OverLimit(time_point now) {
  const DeviceLink& link = engine_.link();
  const bool searching =
      engine_.phase() == PHASE_SEARCH || (engine_.phase() == PHASE_TRANSFER && !link.identified());
  if (searching && !watch_.wasSearching) {
    watch_.searchingSince = now;
  }
  watch_.wasSearching = searching;
  if (searching && now - watch_.searchingSince >= Limit(settings_.searchTimeout)) {
    return Stop(Ending::kNoDisplay, "no display found within", settings_.searchTimeout);
  }
  // Silence is time without a valid exchange with the right display: bytes
  // that fit nothing (a babbling display, a line held at break) never count.
  if (watch_.watchingSilence && link.validExchanges() != watch_.exchangesSeen) {
    watch_.exchangesSeen = link.validExchanges();
    watch_.answeredAt = now;
  }
  // An identified display that falls silent (its power gone while the
  // adapter stays), or a transfer that only another display answers, is
  // given up.
  if (watch_.watchingSilence && now - watch_.answeredAt >= Limit(settings_.silenceTimeout)) {
    return Stop(Ending::kDisplaySilent, "the display has not answered for",
                settings_.silenceTimeout);
  }
  return std::nullopt;
}

TickPacer::Cause UpgradeRun::AwaitTick(TickPacer& pacer) {
  if (engine_.HasReadyWork()) {
    return TickPacer::Cause::kReadyWork;
  }
  if (pacer.inputMayWake() && engine_.WaitsForInput() && !AmidEcho() && settings_.waitForInput &&
      settings_.waitForInput(pacer.regularAt())) {
    return TickPacer::Cause::kInput;
  }
  clock_.SleepUntil(pacer.regularAt());
  return TickPacer::Cause::kRegular;
}

// Says why a port would not open, once per reason; true when that will not
// pass by itself and the run is to end for it.
bool UpgradeRun::PortUnusable() {
  if (port_.LastOpenError() != watch_.lastOpenError) {
    watch_.lastOpenError = port_.LastOpenError();
    if (!watch_.lastOpenError.empty() && settings_.showOpenErrors) {
      host_.Note(watch_.lastOpenError);
    }
  }
  return settings_.endOnLastingOpenError && port_.LastOpenErrorLasts();
}

bool UpgradeRun::OtherDisplayAnswered() {
  const DeviceLink& link = engine_.link();
  const bool ends = settings_.endOnOtherDisplay || link.blockIndex() > 0;
  if (link.otherDeviceId() != otherToldOf_) {
    otherToldOf_ = link.otherDeviceId();
    std::string note = "display " + otherToldOf_ + " answered, but the program is for display " +
                       link.packageDeviceId() + "; nothing was written into it";
    if (!settings_.endOnOtherDisplay) {
      note += ends ? "" : ": plug display " + link.packageDeviceId() + " in again";
    }
    host_.Note(note);
  }
  return ends;
}

// Amid an echo the next bytes only carry it on: ticks every 5 ms read it as
// they always did, and only its last bytes bring a tick forward. Waking for
// every echo byte would cost the CPU a tick a millisecond for nothing.
bool UpgradeRun::AmidEcho() const {
  constexpr std::int32_t kLastBytes = 8;  // about 8 ms at 9600 baud: more than a tick
  const DeviceLink& link = engine_.link();
  return link.stage() == DeviceLink::Stage::kEcho &&
         static_cast<std::int32_t>(BLOCK_SIZE) - link.byteIndex() > kLastBytes;
}

UpgradeRun::Ending UpgradeRun::Stop(Ending ending, const std::string& why,
                                    std::optional<double> seconds) {
  engine_.OnStop();
  if (!why.empty()) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds.value_or(0));
    host_.Note(why + " " + text + " s");
  }
  AdviseIfMidProgram();
  return ending;
}

// A display left mid-program and written again without a power cycle takes
// the new run's blocks after the old ones: tell the user last.
void UpgradeRun::AdviseIfMidProgram() {
  if (writing_ && !engine_.completed() && host_.lastMessage() != messages::kStopMidwayHint) {
    host_.Note(messages::kStopMidwayHint);
  }
}

}  // namespace brintel::run
