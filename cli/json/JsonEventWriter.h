#pragma once

#include <iosfwd>
#include <mutex>

#include "run/RunEvent.h"

namespace brintel::cli {

// The events as one JSON object a line, for scripts: nothing else goes to
// this stream. Safe to call from several channels' threads.
class JsonEventWriter {
 public:
  explicit JsonEventWriter(std::ostream& out) : out_(out) {}
  void operator()(const run::RunEvent& event);

 private:
  std::ostream& out_;
  std::mutex mutex_;
};

}  // namespace brintel::cli
