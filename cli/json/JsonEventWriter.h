#pragma once

#include <atomic>
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
  // The stream could not be written (a pipe its reader closed): nobody hears
  // the events any more.
  bool failed() const { return failed_; }

 private:
  std::ostream& out_;
  std::mutex mutex_;
  std::atomic<bool> failed_{false};
};

}  // namespace brintel::cli
