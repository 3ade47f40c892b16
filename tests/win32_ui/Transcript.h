#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace brintel::testing {

// One line per event on stdout, with the seconds since the driver started:
// "   1.234  message   [No error] ...".
class Transcript {
 public:
  Transcript() : start_(std::chrono::steady_clock::now()) {}

  void Line(std::string_view what, std::string_view text);
  double Seconds() const;

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace brintel::testing
