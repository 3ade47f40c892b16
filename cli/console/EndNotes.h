#pragma once

#include <chrono>
#include <string>

#include "engine/UpgradeEngine.h"
#include "run/RunHost.h"
#include "run/UpgradeRun.h"

namespace brintel::cli {

// Where the designed run ends without a word, the command line says why:
// a choice left without a program, a package made for another display.
// `deviceId`: the display the search found.
void ExplainSilentEnd(const UpgradeEngine& engine, const std::string& deviceId, run::RunHost& host);

// What the last line of a run that did not complete says after "not
// completed: ". `signal`: the one that stopped it (0: none); `atPrompt`: it
// came while a prompt waited for an answer.
std::string WhyNotCompleted(run::UpgradeRun::Ending ending, const UpgradeEngine& engine,
                            run::RunHost::Refusal refusal, int signal, bool atPrompt);

// "upgrade complete: display 1027262514131211, program 标准版, 1:05".
std::string CompletedLine(const std::string& deviceId, const std::string& program,
                          std::chrono::seconds took);

}  // namespace brintel::cli
