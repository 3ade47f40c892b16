#include "run/StationChannel.h"

#include "device/DeviceLink.h"
#include "run/UnitWatch.h"

namespace brintel::run {
namespace {

using namespace std::chrono_literals;

// A unit that gives no valid answer for this long mid-transfer has lost its power.
constexpr double kSilenceSeconds = 2.0;
constexpr auto kGoneAfter = 2s;
constexpr auto kProbeEvery = 200ms;
constexpr auto kTick = 5ms;
constexpr int kProbeTicks = 45;
constexpr auto kHoldLooksEvery =
    500ms;  // a whole identification: reply and frame with their time-outs

}  // namespace

StationChannel::StationChannel(Settings settings, ChannelParts parts, RunClock& clock,
                               RunListener listener)
    : settings_(std::move(settings)),
      parts_(std::move(parts)),
      clock_(clock),
      host_({.channel = settings_.channel,
             .program = settings_.program,
             .address = settings_.address},
            std::move(listener)),
      run_(host_, *parts_.port, *parts_.http, *parts_.gbk, clock,
           {.defaultServer = settings_.defaultServer,
            .searchTimeout = std::nullopt,
            .silenceTimeout = kSilenceSeconds,
            .endOnOtherDisplay = true,
            .showOpenErrors = true,
            .waitForInput = parts_.waitForInput}) {}

void StationChannel::Run(const std::atomic<bool>& stop) {
  while (!stop && !refused_ && !WindingDown()) {
    if (!WaitWhileHeld(stop)) {
      return;
    }
    if (!RunUnit(stop)) {
      continue;  // stopped, wound down, refused or held: the loop tells which
    }
    if (stop || refused_ || WindingDown()) {
      return;
    }
    WaitUntilGone(unitDeviceId_, stop);
  }
}

bool StationChannel::WaitWhileHeld(const std::atomic<bool>& stop) {
  std::string told;
  for (std::string why = Held(); !why.empty(); why = Held()) {
    if (stop || WindingDown()) {
      return false;
    }
    if (why != told) {
      host_.Note(why);
      told = why;
    }
    clock_.SleepFor(kHoldLooksEvery);
  }
  return true;
}

bool StationChannel::RunUnit(const std::atomic<bool>& stop) {
  host_.BeginUnit();
  UnitWatch unit(run_, host_, clock_);
  bool held = false;
  // Until a display is found the search gives way to a hold or the end of
  // the station; a unit once begun runs to its end.
  const auto interrupted = [&] {
    return stop.load() || refused_ || held ||
           (!unit.started() && (WindingDown() || !Held().empty()));
  };
  const UpgradeRun::Ending ending = run_.Run(interrupted, [&] {
    if (!unit.AfterTick()) {
      return;
    }
    if (!Held().empty() || WindingDown()) {
      held = true;  // found, but no unit may begin now: nothing is written
      return;
    }
    if (settings_.admitUnit && !settings_.admitUnit()) {
      refused_ = true;
      return;
    }
    host_.Emit(unit.Started());
  });
  if (!unit.started() || refused_ || held) {
    return false;
  }
  unitDeviceId_ = unit.Started().deviceId;
  host_.Emit(unit.Ended(ending, stop.load()));
  return true;
}

void StationChannel::WaitUntilGone(const std::string& deviceId, const std::atomic<bool>& stop) {
  auto answeredAt = clock_.Now();
  while (!stop && clock_.Now() - answeredAt < kGoneAfter) {
    if (parts_.portPresent && !parts_.portPresent()) {
      return;  // unplugged: the adapter, or its link, went with it
    }
    const std::string answered = ProbeIdentity();
    if (!answered.empty() && answered != deviceId) {
      return;  // swapped: the new display is the next unit
    }
    if (!answered.empty()) {
      answeredAt = clock_.Now();
    }
    clock_.SleepFor(kProbeEvery);
  }
}

// The search's own identification on this port alone, with the port closed
// again at once: the display then waits for the next probe, not for a block.
std::string StationChannel::ProbeIdentity() {
  DeviceLink link(*parts_.port, [this](int ms) { clock_.SleepFor(std::chrono::milliseconds(ms)); });
  link.ScanPorts();
  std::string status;
  for (int tick = 0; tick < kProbeTicks; ++tick) {
    if (link.IdentifyStep(false, status) == DeviceLink::IdentifyResult::kIdentified) {
      link.EndSearch();
      return link.deviceId();
    }
    if (link.portIndex() >= link.portCount()) {
      break;  // given up: no answer, or no port to open
    }
    clock_.SleepFor(kTick);
  }
  link.ClosePort();
  return {};
}

}  // namespace brintel::run
