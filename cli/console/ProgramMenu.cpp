#include "cli/console/ProgramMenu.h"

#include <charconv>
#include <ostream>

#include "cli/terminal/TerminalText.h"

namespace brintel::cli {

std::optional<std::size_t> ProgramMenu(
    const std::vector<std::string>& names, const std::vector<std::size_t>& order, std::ostream& out,
    const std::function<std::optional<std::string>()>& readLine) {
  out << "Choose a program:\n";
  for (std::size_t k = 0; k < order.size(); ++k) {
    out << "  " << (k + 1) << ") " << ShownText(names[order[k]]) << '\n';
  }
  while (true) {
    out << "Program number [1], or q to cancel: " << std::flush;
    const std::optional<std::string> answer = readLine();
    const std::string line = answer.value_or("");
    if (!answer || line == "q" || line == "Q") {
      return std::nullopt;
    }
    if (line.empty()) {
      return order.empty() ? std::nullopt : std::optional<std::size_t>(order.front());
    }
    // A whole number in range and nothing else: "2x" or "1.5" is no answer.
    std::size_t k = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), k);
    if (error == std::errc{} && end == line.data() + line.size() && k >= 1 && k <= order.size()) {
      return order[k - 1];
    }
    out << "No such number.\n";
  }
}

}  // namespace brintel::cli
