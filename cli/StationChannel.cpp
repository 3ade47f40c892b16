#include "cli/StationChannel.h"

#include <filesystem>
#include <thread>

#include "cli/UnitWatch.h"
#include "device/DeviceLink.h"

namespace brintel::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A unit that gives no byte for this long mid-transfer has lost its power.
constexpr double kSilenceSeconds = 2.0;
constexpr auto kGoneAfter = 2s;
constexpr auto kProbeEvery = 200ms;
constexpr auto kTick = 5ms;
constexpr int kProbeTicks = 45;  // a whole identification: reply and frame with their time-outs

}  // namespace

StationChannel::StationChannel(Settings settings, RunListener listener)
    : settings_(std::move(settings)),
      host_({.channel = settings_.channel,
             .program = settings_.program,
             .address = settings_.address},
            std::move(listener)),
      port_(PosixSerialPort::Options{.fixedPorts = {settings_.port}}),
      http_(CurlHttpClient::Options{.userAgent = "brintel-cli"}),
      run_(host_, port_, http_, gbk_,
           {.defaultServer = settings_.defaultServer,
            .searchTimeout = std::nullopt,
            .silenceTimeout = kSilenceSeconds,
            .endOnOtherDisplay = true,
            .showOpenErrors = true,
            .waitForInput = [this](UpgradeRun::Clock::time_point until) {
              return port_.WaitForInput(until);
            }}) {}

void StationChannel::Run(const std::atomic<bool>& stop) {
  while (!stop && !refused_) {
    if (!RunUnit(stop) || stop || refused_) {
      return;
    }
    WaitUntilGone(unitDeviceId_, stop);
  }
}

bool StationChannel::RunUnit(const std::atomic<bool>& stop) {
  host_.BeginUnit();
  UnitWatch unit(run_, host_);
  const UpgradeRun::Ending ending = run_.Run([&] { return stop.load() || refused_; },
                                             [&] {
                                               if (!unit.AfterTick()) {
                                                 return;
                                               }
                                               if (settings_.admitUnit && !settings_.admitUnit()) {
                                                 refused_ = true;
                                                 return;
                                               }
                                               host_.Emit(unit.Started());
                                             });
  if (!unit.started() || refused_) {
    return false;
  }
  const RunEvent ended = unit.Ended(ending, stop.load());
  unitDeviceId_ = unit.Started().deviceId;
  host_.Emit(ended);
  return true;
}

void StationChannel::WaitUntilGone(const std::string& deviceId, const std::atomic<bool>& stop) {
  auto answeredAt = Clock::now();
  while (!stop && Clock::now() - answeredAt < kGoneAfter) {
    std::error_code error;
    if (!std::filesystem::exists(settings_.port, error)) {
      return;  // unplugged: the adapter, or its link, went with it
    }
    const std::string answered = ProbeIdentity();
    if (!answered.empty() && answered != deviceId) {
      return;  // swapped: the new display is the next unit
    }
    if (!answered.empty()) {
      answeredAt = Clock::now();
    }
    std::this_thread::sleep_for(kProbeEvery);
  }
}

// The search's own identification on this port alone, with the port closed
// again at once: the display then waits for the next probe, not for a block.
std::string StationChannel::ProbeIdentity() {
  DeviceLink link(port_,
                  [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
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
    std::this_thread::sleep_for(kTick);
  }
  link.ClosePort();
  return {};
}

}  // namespace brintel::cli
