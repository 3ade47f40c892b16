#pragma once

#include <string>

#include "engine/UpgradeEngine.h"
#include "run/RunHost.h"

namespace brintel::cli {

// Where the designed run ends without a word, the command line says why:
// a choice left without a program, a package made for another display.
// `deviceId`: the display the search found.
void ExplainSilentEnd(const UpgradeEngine& engine, const std::string& deviceId, run::RunHost& host);

}  // namespace brintel::cli
