#pragma once

#include <string>

#include "run/UnitOutcome.h"

namespace brintel::cli {

// The words the bench reads, on the terminal and on the web page alike.

// How a unit that did not complete ended.
const char* FailureWords(run::UnitOutcome outcome);

// What the operator does now, from the run's status: the texts that speak of
// the window are not shown.
std::string StateOf(const std::string& status);

// A message box as a cue: the designed wording where it fits the bench.
std::string CueOf(const std::string& text, const std::string& caption);

}  // namespace brintel::cli
