#pragma once

#include <optional>
#include <string>

namespace brintel::sim {

// A fault read from its command-line text, or why it could not be read.
template <class F>
struct FaultParseResult {
  std::optional<F> fault;
  std::string error;  // set when `fault` is empty, fit to show to a person
};

}  // namespace brintel::sim
