#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace brintel::cli {

// brintel-cli shared-db --db postgresql://ADMIN@HOST/DATABASE [--station-role NAME]
struct SharedDatabaseOptions {
  std::string db{};  // as a role that may make roles and databases
  std::string stationRole{"brintel_station"};
  std::optional<std::string> password{};  // the station role's; from the environment
};

// Makes the shared database, its tables and the stations' role (see
// records::SetUpShared) and prints the --db a station gives. 0; 1 with the
// reason on err.
int RunSharedDatabaseSetup(const SharedDatabaseOptions& options, std::ostream& out,
                           std::ostream& err);

}  // namespace brintel::cli
