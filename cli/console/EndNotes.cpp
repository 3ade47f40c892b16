#include "cli/console/EndNotes.h"

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

}  // namespace brintel::cli
