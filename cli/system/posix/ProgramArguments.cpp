#include "cli/system/ProgramArguments.h"

namespace brintel::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

}  // namespace brintel::cli
