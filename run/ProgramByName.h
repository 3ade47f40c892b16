#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace brintel::run {

// The entry of `names` (UTF-8, in the list's order) called `wanted`, looked
// for in the choice's sorted order; without `wanted`, the first in that order.
std::optional<std::size_t> ProgramByName(const std::vector<std::string>& names,
                                         const std::optional<std::string>& wanted);

// The names in the choice's sorted order, for telling what a list holds.
std::vector<std::string> SortedNames(const std::vector<std::string>& names);

}  // namespace brintel::run
