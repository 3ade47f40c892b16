#include "cli/station/SharedDatabaseCommand.h"

#include <exception>

#include "cli/ExitStatus.h"
#include "records/SharedRecords.h"

namespace brintel::cli {

int RunSharedDatabaseSetup(const SharedDatabaseOptions& options, std::ostream& out,
                           std::ostream& err) {
  if (!records::IsPostgresUri(options.db)) {
    err << "brintel-cli shared-db: --db " << records::WithoutPassword(options.db)
        << ": give a postgresql:// URI\n";
    return EXIT_USAGE;
  }
  try {
    const std::string uri = records::SetUpShared(options.db, options.stationRole, options.password);
    out << "ready: the stations give --db " << uri << '\n';
    if (!options.password) {
      out << "the role " << options.stationRole
          << " has no password: set BRINTEL_STATION_PASSWORD and run again to give it one\n";
    }
    return EXIT_COMPLETED;
  } catch (const std::exception& error) {
    err << "brintel-cli shared-db: " << error.what() << '\n';
    return EXIT_NOT_COMPLETED;
  }
}

}  // namespace brintel::cli
