#include "engine/UpgradeEngine.h"

#include <utility>
#include <vector>

#include "engine/FetchResponse.h"
#include "engine/Messages.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"

namespace brintel {

UpgradeEngine::UpgradeEngine(UpgradeHost& host, SerialPort& port, HttpClient& http,
                             const GbkDecoder& gbk, Pause pause, Config config)
    : host_(host),
      http_(http),
      gbk_(gbk),
      config_(std::move(config)),
      link_(port, std::move(pause)) {}

void UpgradeEngine::OnStart() {
  // A port still open from this run would otherwise stay held and drop out of
  // the new port list.
  link_.ClosePort();
  host_.ReadControls(statusText_, serverAddress_);
  statusText_ = messages::kSearching;
  host_.WriteControls(statusText_, serverAddress_);
  link_.ScanPorts();
  link_.ForgetDevice();
  link_.ResetCounts();
  phase_ = PHASE_SEARCH;
  endReason_ = RunEnd::kNone;
  host_.StartTimer();
}

void UpgradeEngine::OnStop() {
  if (endReason_ == RunEnd::kNone) {
    endReason_ = RunEnd::kStopped;
  }
  host_.ReadControls(statusText_, serverAddress_);
  statusText_.clear();
  host_.WriteControls(statusText_, serverAddress_);
  link_.ClosePort();
  host_.StopTimer();
}

void UpgradeEngine::tick() {
  host_.ReadControls(statusText_, serverAddress_);
  switch (phase_) {
    case PHASE_SEARCH:
      if (link_.IdentifyStep(false, statusText_) == DeviceLink::IdentifyResult::kIdentified) {
        link_.EndSearch();
        phase_ = PHASE_LIST;
      }
      break;
    case PHASE_LIST:
      RequestProgramList();
      break;
    case PHASE_PACKAGE:
      DownloadPackage();
      break;
    case PHASE_TRANSFER:
      TransferTick();
      break;
  }
  host_.WriteControls(statusText_, serverAddress_);
}

void UpgradeEngine::RequestProgramList() {
  host_.StopTimer();
  statusText_ = messages::kGettingList + link_.BuildDeviceLabel();
  host_.WriteControls(statusText_, serverAddress_);
  host_.ShowMessage(messages::kUnplug, messages::kCaptionNoError);

  requestUrl_ = ListUrl(serverAddress_, config_.defaultServer, link_.deviceId());
  listUrl_ = requestUrl_;
  const FetchResult list = FetchResponse(http_, host_, requestUrl_);
  responseText_ = list.text;
  host_.WriteControls(statusText_, serverAddress_);

  // A key the transfer cannot cycle through (empty, or over 32 bytes) makes
  // the list as useless as one without a separator; so does a list too long
  // to choose from.
  const std::optional<std::string> key = ListKey(responseText_);
  std::vector<std::string> names;
  if (key && IsUsableListKey(*key) && responseText_.size() <= LIST_TEXT_MAX) {
    names = SplitProgramNames(responseText_);
  }
  if (names.empty() || names.size() > LIST_NAMES_MAX) {
    host_.ShowMessage(messages::kNoList, messages::kCaptionError);
    ResetToIdle(list.failed ? RunEnd::kListServerError : RunEnd::kListRefused);
    return;
  }

  listKey_ = *key;
  std::vector<std::string> shownNames;
  shownNames.reserve(names.size());
  for (const std::string& name : names) {
    shownNames.push_back(gbk_.ToUtf8(name));
  }
  const ProgramChoice choice = host_.ChooseProgram(shownNames);
  if (!choice.accepted) {
    ResetToIdle(RunEnd::kNoProgramChosen);
    return;
  }
  const std::string programName =
      choice.entry && *choice.entry < names.size() ? names[*choice.entry] : std::string();
  requestUrl_ = PackageUrl(requestUrl_, programName);
  phase_ = PHASE_PACKAGE;
  statusText_ = messages::kGetting + gbk_.ToUtf8(programName) + messages::kGettingEnd;
  host_.WriteControls(statusText_, serverAddress_);
  host_.StartTimer();
}

void UpgradeEngine::DownloadPackage() {
  host_.StopTimer();
  const FetchResult package = FetchResponse(http_, host_, requestUrl_);
  responseText_ = package.text;
  host_.WriteControls(statusText_, serverAddress_);

  // A package that ends before its last payload digit (a body cut short, say)
  // must never be written into the display.
  if (responseText_.size() < PACKAGE_MIN_SIZE || !HoldsValidPayload(responseText_)) {
    host_.ShowMessage(messages::kNoPackage, messages::kCaptionError);
    ResetToIdle(package.failed ? RunEnd::kPackageServerError : RunEnd::kPackageRefused);
    return;
  }
  if (responseText_.compare(0, PACKAGE_ID_SIZE, link_.deviceId()) != 0) {
    ResetToIdle(RunEnd::kPackageForOtherDisplay);  // dropped without a word
    return;
  }

  phase_ = PHASE_TRANSFER;
  link_.BeginTransfer(responseText_.substr(0, PACKAGE_ID_SIZE));
  const PackageHeader header = ReadPackageHeader(responseText_);
  payloadStart_ = header.payloadStart;
  host_.SetTitle(gbk_.ToUtf8(header.title));
  host_.DrawInstructionPictures(header.leftPicture, header.rightPicture);
  statusText_ = messages::kStopMidwayHint;
  host_.WriteControls(statusText_, serverAddress_);
  host_.ShowMessage(messages::kPlugIn, messages::kCaptionUpgrade);
  host_.StartTimer();
}

void UpgradeEngine::TransferTick() {
  if (link_.stage() == DeviceLink::Stage::kIdentify) {
    switch (link_.IdentifyStep(true, statusText_)) {
      case DeviceLink::IdentifyResult::kIdentified:
        link_.PrepareBlock(responseText_, payloadStart_, listKey_);
        break;
      case DeviceLink::IdentifyResult::kPortLost:
        EndLostTransfer();
        break;
      case DeviceLink::IdentifyResult::kOtherDisplay:  // probed until the right one answers
      case DeviceLink::IdentifyResult::kPending:
        break;
    }
    return;
  }
  switch (link_.TransferStep()) {
    case DeviceLink::TransferResult::kAccepted:
      AcceptBlock();
      break;
    case DeviceLink::TransferResult::kPortLost:
      EndLostTransfer();
      break;
    case DeviceLink::TransferResult::kPending:
      break;
  }
}

// The display was unplugged mid-transfer and lost its power: plugged in again
// it counts from block 0, so the next block would land in the wrong place.
// Only a new run, from block 0, can write it.
void UpgradeEngine::EndLostTransfer() {
  host_.StopTimer();
  host_.ShowMessage(messages::kStopMidwayHint, messages::kCaptionError);
  ResetToIdle(RunEnd::kPortLost);
}

void UpgradeEngine::AcceptBlock() {
  const int blocks = link_.blockIndex();
  host_.SetProgress(blocks);
  statusText_ = link_.PortName() + messages::kTransferring +
                std::to_string(blocks * 100 / BLOCK_COUNT) + "%" + link_.BuildDeviceLabel();
  host_.WriteControls(statusText_, serverAddress_);
  if (blocks >= BLOCK_COUNT) {
    CompleteTransfer();
  }
}

void UpgradeEngine::CompleteTransfer() {
  link_.ClosePort();
  host_.StopTimer();
  link_.EndTransfer();
  endReason_ = RunEnd::kCompleted;
  host_.ShowMessage(messages::kCompleted, messages::kCaptionNoError);
}

void UpgradeEngine::ResetToIdle(RunEnd why) {
  endReason_ = why;
  link_.ForgetDevice();
  phase_ = PHASE_SEARCH;
  statusText_.clear();
  link_.ClosePort();
  host_.StopTimer();
}

}  // namespace brintel
