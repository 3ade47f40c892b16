// brintel-cli: the upgrade engine without a window. Parses the command line
// and hands it to the command it names.

#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/console/UpgradeCommand.h"
#include "cli/history/HistoryCommand.h"
#include "cli/station/StationCommand.h"
#include "cli/system/ProgramArguments.h"
#include "cli/terminal/Console.h"
#include "cli/terminal/Signals.h"

int main(int argc, char** argv) {
  using namespace brintel::cli;
  PrepareConsole();
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  const auto parsed = ParseCliOptions(static_cast<int>(pointers.size()), pointers.data());
  if (const int* status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const CliOptions& options = std::get<CliOptions>(parsed);
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
