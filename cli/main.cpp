// brintel-cli: the upgrade engine without a window. Parses the command line
// and hands it to the command it names.

#include <csignal>
#include <iostream>
#include <variant>

#include "cli/CliOptions.h"
#include "cli/console/UpgradeCommand.h"
#include "cli/history/HistoryCommand.h"
#include "cli/station/StationCommand.h"
#include "cli/terminal/Signals.h"

int main(int argc, char** argv) {
  using namespace brintel::cli;
  const auto parsed = ParseCliOptions(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const CliOptions& options = std::get<CliOptions>(parsed);
  // A reader that went away (a closed pipe) ends nothing but the output.
  std::signal(SIGPIPE, SIG_IGN);
  switch (options.command) {
    case CliOptions::Command::kStation: {
      CatchInterrupts();
      const int status = RunStation(options.station, std::cout, std::cerr, Interrupted());
      return status == EXIT_INTERRUPTED ? InterruptedStatus() : status;
    }
    case CliOptions::Command::kHistory:
      return RunHistory(options.history, std::cout, std::cerr);
    case CliOptions::Command::kSharedDatabase:
      return RunSharedDatabaseSetup(options.sharedDatabase, std::cout, std::cerr);
    case CliOptions::Command::kUpgrade:
      break;
  }
  return RunUpgrade(options);
}
