#pragma once

#include <optional>
#include <string>

namespace brintel::cli {

// A line from the terminal on stdin, read a byte at a time between looks at
// the interrupt flag: a Ctrl-C that comes just before the read began still
// ends the wait. Nothing at the end of the input or when interrupted.
std::optional<std::string> ReadAnswer();

// Drops what was typed ahead, so that only an Enter typed after a prompt counts.
void DiscardTypedInput();

}  // namespace brintel::cli
