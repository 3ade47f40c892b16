#pragma once

#include <stdexcept>
#include <string_view>

#include "sim/FaultParseResult.h"
#include "sim/display/DisplayFault.h"
#include "sim/server/ServerFault.h"

namespace brintel::testing {

// A fault a test writes as the simulators' --fault takes it. A typo throws with
// the parser's reason rather than leaving an empty fault behind.
template <class F>
F CheckedFault(sim::FaultParseResult<F> parsed) {
  if (!parsed.fault) {
    throw std::invalid_argument(parsed.error);
  }
  return *parsed.fault;
}

inline sim::Fault DisplayFault(std::string_view text) {
  return CheckedFault(sim::ParseFault(text));
}

inline sim::ServerFault ServerFault(std::string_view text) {
  return CheckedFault(sim::ParseServerFault(text));
}

}  // namespace brintel::testing
