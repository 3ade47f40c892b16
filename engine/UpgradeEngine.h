#pragma once

#include <string>

#include "device/DeviceLink.h"
#include "device/SerialLink.h"
#include "engine/RunEnd.h"
#include "engine/UpgradeHost.h"
#include "engine/UpgradePhase.h"
#include "server/GbkDecoder.h"
#include "server/HttpClient.h"

namespace brintel {

// One upgrade run after another, driven from outside: Start and Stop from the
// buttons, Tick from timer 1. Every tick does a small, bounded piece of work;
// the list and package ticks block on one server request with the timer
// stopped. The object lives as long as the program: the run's state and the
// counters that outlive a run are its members.
class UpgradeEngine {
 public:
  struct Config {
    std::string defaultServer = BRINTEL_DEFAULT_SERVER;  // host[:port]
  };

  UpgradeEngine(UpgradeHost& host, SerialPort& port, HttpClient& http, const GbkDecoder& gbk,
                Pause pause, Config config);
  UpgradeEngine(UpgradeHost& host, SerialPort& port, HttpClient& http, const GbkDecoder& gbk,
                Pause pause)
      : UpgradeEngine(host, port, http, gbk, std::move(pause), Config{}) {}

  // Start: closes a port still held, scans the ports, begins the search and
  // starts timer 1.
  void OnStart();
  // Stop: empties the status, closes the port and stops timer 1; the run's
  // counters keep their values.
  void OnStop();
  // One message of timer 1: reads the controls, does one bounded piece of the
  // phase's work, writes the controls back.
  void tick();

  // True from the 70th accepted block until the next Start.
  bool completed() const { return endReason_ == RunEnd::kCompleted; }
  // Why the latest run ended; kNone while it runs.
  RunEnd endReason() const { return endReason_; }
  // The next tick has work that waits for no byte (a block or a probe to send
  // to the identified display): a front end may run it at once.
  bool HasReadyWork() const { return phase_ == PHASE_TRANSFER && link_.SendsNext(); }
  // The next tick looks at the bytes received: a front end may run it as soon
  // as some arrive. A probe (step 0) takes none, so bytes never hurry it.
  bool WaitsForInput() const {
    return (phase_ == PHASE_SEARCH || phase_ == PHASE_TRANSFER) && link_.step() != 0 &&
           !link_.SendsNext();
  }

  UpgradePhase phase() const { return phase_; }
  const DeviceLink& link() const { return link_; }
  const std::string& statusText() const { return statusText_; }
  const std::string& requestUrl() const { return requestUrl_; }
  // The latest list request's URL, which the package request extends.
  const std::string& listUrl() const { return listUrl_; }
  const std::string& responseText() const { return responseText_; }
  const std::string& listKey() const { return listKey_; }

 private:
  void RequestProgramList();
  void DownloadPackage();
  void TransferTick();
  void AcceptBlock();
  void CompleteTransfer();
  void EndLostTransfer();
  void ResetToIdle(RunEnd why);

  UpgradeHost& host_;
  HttpClient& http_;
  const GbkDecoder& gbk_;
  Config config_;
  DeviceLink link_;

  UpgradePhase phase_ = PHASE_SEARCH;
  std::string statusText_;
  std::string serverAddress_;
  std::string requestUrl_;
  std::string listUrl_;
  std::string responseText_;  // raw GBK: the list, then the package
  std::string listKey_;
  std::ptrdiff_t payloadStart_ = 0;
  RunEnd endReason_ = RunEnd::kNone;
};

}  // namespace brintel
