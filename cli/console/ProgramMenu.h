#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace brintel::cli {

// Offers `names` in `order` as a numbered menu on `out` and reads the answer
// with `readLine`: Enter takes the first, a whole number in range takes that
// one, q (or the end of the input) cancels; anything else is asked again.
std::optional<std::size_t> ProgramMenu(const std::vector<std::string>& names,
                                       const std::vector<std::size_t>& order, std::ostream& out,
                                       const std::function<std::optional<std::string>()>& readLine);

}  // namespace brintel::cli
