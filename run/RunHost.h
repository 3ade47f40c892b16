#pragma once

#include <string>
#include <utility>

#include "engine/UpgradeHost.h"

namespace brintel::run {

// The window of one run as a front end without one keeps it: the two
// controls, timer 1 and the latest message, plus what the run driver needs to
// end the run and tell why.
class RunHost : public UpgradeHost {
 public:
  // Why a choice was refused, when it was not the user.
  enum class Refusal { kNone, kListPrinted, kUnknownProgram, kNoTerminal };

  explicit RunHost(std::string address) : address_(std::move(address)) {}

  void ReadControls(std::string& statusText, std::string& serverAddress) override {
    statusText = status_;
    serverAddress = address_;
  }
  void WriteControls(const std::string& statusText, const std::string& serverAddress) override {
    address_ = serverAddress;
    if (statusText != status_) {
      status_ = statusText;
      StatusChanged();
    }
  }
  void StartTimer() override { timerRunning_ = true; }
  void StopTimer() override { timerRunning_ = false; }

  bool timerRunning() const { return timerRunning_; }
  Refusal refusal() const { return refusal_; }
  // The text of the latest message box; empty before the first.
  const std::string& lastMessage() const { return lastMessage_; }
  const std::string& status() const { return status_; }

  // A note that is no message box of the run (a hint, the reason for giving up).
  virtual void Note(const std::string& text) = 0;
  // A server request failed: why (the designed messages say only that it did).
  virtual void RequestFailed(const std::string& url, const std::string& detail) = 0;

 protected:
  // The status box holds a new text: status().
  virtual void StatusChanged() = 0;
  void Refuse(Refusal why) { refusal_ = why; }
  void MessageShown(const std::string& text) { lastMessage_ = text; }
  void ForgetRun() {
    refusal_ = Refusal::kNone;
    lastMessage_.clear();
  }

 private:
  std::string status_;
  std::string address_;
  bool timerRunning_ = false;
  Refusal refusal_ = Refusal::kNone;
  std::string lastMessage_;
};

}  // namespace brintel::run
