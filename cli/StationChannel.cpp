#include "cli/StationChannel.h"

#include <filesystem>
#include <thread>

#include "cli/UnitWatch.h"
#include "device/IdentityFrame.h"
#include "device/SerialLink.h"

namespace brintel::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A unit that gives no byte for this long mid-transfer has lost its power.
constexpr double kSilenceSeconds = 2.0;
constexpr auto kGoneAfter = 2s;
constexpr auto kProbeEvery = 200ms;
constexpr auto kReplyWithin = 100ms;

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
            .showOpenErrors = true,
            .waitForInput = [this](UpgradeRun::Clock::time_point until) {
              return port_.WaitForInput(until);
            }}) {}

void StationChannel::Run(const std::atomic<bool>& stop) {
  while (!stop && !refused_) {
    if (!RunUnit(stop) || stop || refused_) {
      return;
    }
    WaitUntilGone(stop);
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
  host_.Emit(unit.Ended(ending, stop.load()));
  return true;
}

void StationChannel::WaitUntilGone(const std::atomic<bool>& stop) {
  auto answeredAt = Clock::now();
  while (!stop && Clock::now() - answeredAt < kGoneAfter) {
    std::error_code error;
    if (!std::filesystem::exists(settings_.port, error)) {
      return;  // unplugged: the adapter, or its link, went with it
    }
    if (AnswersProbe()) {
      answeredAt = Clock::now();
    }
    std::this_thread::sleep_for(kProbeEvery);
  }
}

// A probe of its own, with the port closed again at once: the display then
// waits for the next probe, not for a block.
bool StationChannel::AnswersProbe() {
  if (!port_.OpenPort(settings_.port)) {
    return false;
  }
  DrainInput(port_);
  bool answered = false;
  if (port_.WriteByte(PROBE_BYTE)) {
    const auto until = Clock::now() + kReplyWithin;
    std::uint8_t byte = 0;
    while (!answered && Clock::now() < until) {
      if (port_.ReadByte(byte)) {
        answered = byte == PROBE_REPLY;
      } else {
        std::this_thread::sleep_for(5ms);
      }
    }
  }
  port_.ClosePort();
  return answered;
}

}  // namespace brintel::cli
