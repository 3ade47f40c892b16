#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/station/web/WebAddress.h"
#include "run/RunEvent.h"

namespace brintel::cli {

struct StationWebSettings {
  WebAddress address;
  std::string token;  // asked for once in the URL, then kept as a cookie; empty: none
  std::string db;     // the records the history view reads; empty: the default file
};

// The station as a read-only web page, one more listener of its events: a
// tile per channel with its instruction pictures, the totals and the last
// units, followed live by Server-Sent Events, and the history drawn from the
// records. Only GET; nothing on it changes the station.
class StationWeb {
 public:
  // Listens at once, on a thread of its own; throws with why it cannot
  // (the address is taken, or the build has no web server).
  StationWeb(StationWebSettings settings, std::vector<std::string> ports);
  // Gives the open pages a moment to learn that the station ended, then stops.
  ~StationWeb();
  StationWeb(const StationWeb&) = delete;
  StationWeb& operator=(const StationWeb&) = delete;

  void operator()(const run::RunEvent& event);
  // The station has ended for this reason: the pages say so.
  void End(const std::string& why);
  // http://HOST:PORT/ as it listens.
  std::string Url() const;

 private:
  struct Server;
  std::unique_ptr<Server> server_;
};

}  // namespace brintel::cli
