#pragma once

#include "cli/CliOptions.h"

namespace brintel::cli {

// brintel-cli without a command: one upgrade run, on the terminal or as JSON
// events. Returns the exit status (ExitStatus.h).
int RunUpgrade(const CliOptions& options);

}  // namespace brintel::cli
