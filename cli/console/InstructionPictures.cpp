#include "cli/console/InstructionPictures.h"

namespace brintel::cli {

std::string DescribePicture(std::uint16_t id) {
  switch (id) {
    case 134:
      return "blank";
    case 135:
      return "the jumper settings on the back of the display, one per mode";
    case 139:
      return "adapter board: DIP switches 3 and 4 on, 1 and 2 off";
    case 140:
      return "connector: +12 V, data line, auxiliary data line, ground";
    case 141:
      return "adapter board: DIP switch 2 on, 1, 3 and 4 off";
    case 142:
      return "adapter board: DIP switches 1 and 4 on, 2 and 3 off";
    case 143:
      return "connector: +12 V, fuel-injector coil, vehicle-speed sensor, ground";
    case 144:
      return "connector: +12 V, data line, vehicle-speed sensor, ground";
    case 146:
      return "the back of the display with its switches set for updating";
    default:
      return "no such picture";
  }
}

}  // namespace brintel::cli
