#include "run/ProgramByName.h"

#include "server/ProgramList.h"

namespace brintel::run {

std::optional<std::size_t> ProgramByName(const std::vector<std::string>& names,
                                         const std::optional<std::string>& wanted) {
  for (const std::size_t i : SortedChoiceOrder(names)) {
    if (!wanted || names[i] == *wanted) {
      return i;
    }
  }
  return std::nullopt;
}

std::vector<std::string> SortedNames(const std::vector<std::string>& names) {
  std::vector<std::string> sorted;
  for (const std::size_t i : SortedChoiceOrder(names)) {
    sorted.push_back(names[i]);
  }
  return sorted;
}

}  // namespace brintel::run
