#include "cli/station/StationWords.h"

#include "cli/terminal/TerminalText.h"
#include "engine/Messages.h"

namespace brintel::cli {

using run::UnitOutcome;

const char* FailureWords(UnitOutcome outcome) {
  switch (outcome) {
    case UnitOutcome::kListRefused:
      return "no program list";
    case UnitOutcome::kPackageRefused:
      return "no usable package";
    case UnitOutcome::kServerError:
      return "the server did not answer";
    case UnitOutcome::kOtherDevice:
      return "the package is for another display";
    case UnitOutcome::kOtherDisplay:
      return "another display answered";
    case UnitOutcome::kProgramNotOffered:
      return "the program is not offered";
    case UnitOutcome::kPortLost:
      return "unplugged mid-transfer";
    case UnitOutcome::kDisplaySilent:
      return "the display stopped answering";
    case UnitOutcome::kStopped:
      return "stopped";
    case UnitOutcome::kCompleted:
      break;
  }
  return "not completed";
}

std::string StateOf(const std::string& status) {
  if (status == messages::kSearching) {
    return "searching";
  }
  if (status.find(messages::kFound) != std::string::npos) {
    return "found";
  }
  if (status.starts_with(messages::kGettingList)) {
    return "getting the program list";
  }
  if (status.starts_with(messages::kGetting)) {
    return "getting the program";
  }
  if (status == messages::kStopMidwayHint ||
      status.find(messages::kTransferring) != std::string::npos) {
    return "transferring";
  }
  return ShownText(status, 60);
}

std::string CueOf(const std::string& text, const std::string& caption) {
  if (text == messages::kUnplug) {
    return std::string("unplug: ") + messages::kUnplug;
  }
  if (text == messages::kPlugIn) {
    return "plug in: 请将行车显示器插到电脑USB口";
  }
  return "[" + caption + "] " + ShownText(text, 60);
}

}  // namespace brintel::cli
