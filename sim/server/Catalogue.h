#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/SendBlock.h"

namespace brintel::sim {

struct Program {
  std::string name;                // raw GBK bytes, as listed and requested
  std::string title;               // raw GBK bytes, no "_" of its own
  std::string pictures;            // two 3-digit picture ids, left then right: "139140"
  std::vector<std::uint8_t> data;  // PROGRAM_SIZE bytes, as the display must end up holding them
  std::string trailer;             // sent after the payload, never read by the tool
};

// The programs the server offers to every display.
class Catalogue {
 public:
  // Throws std::invalid_argument for a program the protocol cannot carry (a
  // name or title with a "_", pictures that are not 6 digits, data of another
  // size) or for two programs of one name.
  explicit Catalogue(std::vector<Program> programs);

  // A handful of programs with fixed pseudo-random data, chosen to exercise the
  // name and title handling: blanks, "&", "+", GBK, a 0x5F trail byte.
  static Catalogue Default();

  const std::vector<Program>& Programs() const { return programs_; }
  const Program* Find(std::string_view name) const;

  // The program's data, or empty when no program has that name.
  std::vector<std::uint8_t> ExpectedProgram(std::string_view name) const;

  // The list key for a display: 9 ASCII bytes derived from the whole id (case
  // ignored), so two displays get different keys and runs are repeatable.
  std::string ListKeyFor(std::string_view deviceId) const;

  // "KEY_name1_name2...": no "_" after the last name.
  std::string ListText(std::string_view listKey) const;

 private:
  std::vector<Program> programs_;
};

// 16 hex digits, either case: the only ids the server answers.
bool IsDeviceId(std::string_view text);

}  // namespace brintel::sim
