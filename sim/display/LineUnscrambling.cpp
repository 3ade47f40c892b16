#include "sim/display/LineUnscrambling.h"

namespace brintel::sim {
namespace {

// Where each program bit travels on the line, and whether it is inverted.
struct BitRoute {
  int programBit;
  int lineBit;
  bool inverted;
};

constexpr BitRoute kRoutes[] = {
    {0, 7, true}, {1, 1, false}, {2, 2, true},  {3, 4, false},
    {4, 3, true}, {5, 6, true},  {6, 0, false}, {7, 5, false},
};

}  // namespace

std::uint8_t UnscrambleByte(std::uint8_t lineByte) {
  unsigned program = 0;
  for (const BitRoute& route : kRoutes) {
    const bool onLine = ((static_cast<unsigned>(lineByte) >> route.lineBit) & 1u) != 0;
    if (onLine != route.inverted) {
      program |= 1u << route.programBit;
    }
  }
  return static_cast<std::uint8_t>(program);
}

}  // namespace brintel::sim
