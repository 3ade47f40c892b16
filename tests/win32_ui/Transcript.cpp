#include "Transcript.h"

#include <cstdio>

namespace brintel::testing {

void Transcript::Line(std::string_view what, std::string_view text) {
  std::printf("%8.3f  %-9.*s %.*s\n", Seconds(), static_cast<int>(what.size()), what.data(),
              static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
}

double Transcript::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace brintel::testing
