#include "cli/StationChannel.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "device/IdentityFrame.h"
#include "device/SerialLink.h"
#include "engine/Messages.h"

namespace brintel::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A unit that gives no byte for this long mid-transfer has lost its power.
constexpr double kSilenceSeconds = 2.0;
constexpr auto kGoneAfter = 2s;
constexpr auto kProbeEvery = 200ms;
constexpr auto kReplyWithin = 100ms;

bool Shown(const std::vector<std::string>& messages, const char* text) {
  return std::find(messages.begin(), messages.end(), text) != messages.end();
}

}  // namespace

StationChannel::StationChannel(Settings settings, RunListener listener)
    : settings_(std::move(settings)),
      host_({.channel = settings_.channel, .program = settings_.program,
             .address = settings_.address},
            std::move(listener)),
      port_(PosixSerialPort::Options{.fixedPorts = {settings_.port}}),
      http_(CurlHttpClient::Options{.userAgent = "brintel-cli"}),
      run_(host_, port_, http_, gbk_,
           {.defaultServer = settings_.defaultServer,
            .searchTimeout = std::nullopt,
            .silenceTimeout = kSilenceSeconds,
            .showOpenErrors = true}) {}

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
  reachedTransfer_ = false;
  bool started = false;
  const auto startedAt = Clock::now();
  std::string transferId;
  const UpgradeEngine& engine = run_.engine();
  const UpgradeRun::Ending ending = run_.Run(
      [&] { return stop.load() || refused_; },
      [&] {
        if (!started && engine.phase() != PHASE_SEARCH) {
          if (settings_.admitUnit && !settings_.admitUnit()) {
            refused_ = true;
            return;
          }
          started = true;
          RunEvent event = RunEvent::Of(RunEvent::Kind::kUnitStarted);
          event.port = settings_.port;
          event.deviceId = engine.link().deviceId();
          host_.Emit(std::move(event));
        }
        reachedTransfer_ = reachedTransfer_ || engine.phase() == PHASE_TRANSFER;
        if (transferId.empty() && run_.Writing()) {
          transferId = engine.link().deviceId();
        }
      });
  if (!started) {
    return false;
  }
  RunEvent end = RunEvent::Of(RunEvent::Kind::kUnitEnded);
  end.port = settings_.port;
  end.outcome = Outcome(ending, stop.load());
  end.counts = engine.link().counts();
  end.seconds = std::chrono::duration<double>(Clock::now() - startedAt).count();
  end.transferDeviceId = transferId;
  end.program = host_.program();
  end.title = host_.title();
  const std::string& url = engine.requestUrl();
  end.listUrl = url.substr(0, url.find("&type="));
  end.offered = host_.offered();
  host_.Emit(std::move(end));
  return true;
}

std::string StationChannel::Outcome(UpgradeRun::Ending ending, bool stopped) const {
  const std::vector<std::string>& shown = host_.messages();
  if (run_.engine().completed()) {
    return "completed";
  }
  if (stopped || ending == UpgradeRun::Ending::kInterrupted) {
    return "stopped";
  }
  if (ending == UpgradeRun::Ending::kDisplaySilent || Shown(shown, messages::kStopMidwayHint)) {
    return "port-lost";
  }
  if (host_.refusal() == RunHost::Refusal::kUnknownProgram) {
    return "program-not-offered";
  }
  if (Shown(shown, messages::kProgramError) || Shown(shown, messages::kFail)) {
    return "server-error";
  }
  if (Shown(shown, messages::kNoList)) {
    return "list-refused";
  }
  if (Shown(shown, messages::kNoPackage)) {
    return "package-refused";
  }
  // The package came whole, but for another display: dropped without a word.
  return !reachedTransfer_ && !host_.program().empty() ? "other-device" : "stopped";
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
