#include "cli/console/EndNotes.h"

#include <csignal>
#include <cstdio>

#include "cli/terminal/ProgressText.h"
#include "cli/terminal/TerminalText.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"

namespace brintel::cli {

void ExplainSilentEnd(const UpgradeEngine& engine, const std::string& deviceId,
                      run::RunHost& host) {
  switch (engine.endReason()) {
    case RunEnd::kNoProgramChosen:
      if (host.refusal() == run::RunHost::Refusal::kNone) {
        host.Note("no program chosen; nothing was written");
      }
      return;
    case RunEnd::kPackageForOtherDisplay: {
      const std::string& package = engine.responseText();
      if (package[0] == SEPARATOR) {
        host.Note("the package begins with \"_\": it names no display; nothing was written");
      } else {
        host.Note("the package is made for display " +
                  ShownText(package.substr(0, PACKAGE_ID_SIZE)) + ", not for this display " +
                  deviceId + "; nothing was written");
      }
      return;
    }
    default:
      return;
  }
}

std::string WhyNotCompleted(run::UpgradeRun::Ending ending, const UpgradeEngine& engine,
                            run::RunHost::Refusal refusal, int signal, bool atPrompt) {
  using Ending = run::UpgradeRun::Ending;
  switch (ending) {
    case Ending::kInterrupted: {
      const std::string how = signal == SIGTERM ? "terminated (SIGTERM)" : "stopped (Ctrl-C)";
      return atPrompt ? how + " at a prompt; nothing more was fetched or written" : how;
    }
    case Ending::kNoDisplay:
      return "no display found";
    case Ending::kDisplaySilent:
      return "the display stopped answering";
    case Ending::kOtherDisplay:
      return "another display answered in place of this one";
    case Ending::kPortUnusable:
      return "the port cannot be opened";
    case Ending::kStopped:
      break;
  }
  switch (engine.endReason()) {
    case RunEnd::kListServerError:
      return "the program list could not be fetched";
    case RunEnd::kListRefused:
      return "the server's program list cannot be used";
    case RunEnd::kNoProgramChosen:
      switch (refusal) {
        case run::RunHost::Refusal::kUnknownProgram:
          return "the program list holds no such program";
        case run::RunHost::Refusal::kNoTerminal:
          return "no terminal to choose a program on";
        case run::RunHost::Refusal::kListPrinted:
        case run::RunHost::Refusal::kNone:
          break;
      }
      return "no program chosen";
    case RunEnd::kPackageServerError:
      return "the program could not be fetched";
    case RunEnd::kPackageRefused:
      return "the server's program cannot be used";
    case RunEnd::kPackageForOtherDisplay:
      return "the program is made for another display";
    case RunEnd::kPortLost:
      return "the display was unplugged mid-transfer";
    case RunEnd::kStopped:
      return "stopped";
    case RunEnd::kNone:
    case RunEnd::kCompleted:
      break;
  }
  return "the run ended early";
}

std::string CompletedLine(const std::string& deviceId, const std::string& program,
                          std::chrono::seconds took) {
  return "upgrade complete: display " + deviceId + ", program " + program + ", " +
         MinutesSeconds(took);
}

}  // namespace brintel::cli
