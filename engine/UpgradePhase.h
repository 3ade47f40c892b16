#pragma once

#include <cstdint>

namespace brintel {

enum UpgradePhase : std::int32_t {
  PHASE_SEARCH = 0,    // find the display on the ports and read its identity
  PHASE_LIST = 1,      // one tick: the program list and the user's choice
  PHASE_PACKAGE = 2,   // one tick: download and check the package
  PHASE_TRANSFER = 3,  // find the display again and write the program block by block
};

}  // namespace brintel
