#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace brintel::sim {

// A fault as written on the command line and what it does, for help texts.
struct FaultForm {
  std::string usage;  // "unplug-after:N[:REPLUG_MS]"
  std::string_view help;
};

// One form a line, indented; with `help`, what it does in a column beside it.
inline std::string FaultFormLines(const std::vector<FaultForm>& forms, bool help) {
  std::size_t width = 0;
  for (const FaultForm& form : forms) {
    width = std::max(width, form.usage.size());
  }
  std::string text;
  for (const FaultForm& form : forms) {
    text += text.empty() ? "  " : "\n  ";
    text += form.usage;
    if (help) {
      text.append(width - form.usage.size() + 2, ' ');
      text += form.help;
    }
  }
  return text;
}

}  // namespace brintel::sim
