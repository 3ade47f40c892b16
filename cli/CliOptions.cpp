#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace brintel::cli {

std::variant<CliOptions, int> ParseCliOptions(int argc, const char* const* argv) {
  CliOptions options;
  CLI::App app{"Upgrades the program of a vehicle display over its USB-serial adapter.",
               "brintel-cli"};
  app.set_version_flag("--version", std::string("brintel-cli ") + BRINTEL_VERSION);
  app.add_option("--port", options.ports,
                 "Probe this serial port instead of scanning (repeatable; probed in order)")
      ->type_name("NAME");
  app.add_option("--server", options.server,
                 std::string("Default program server for this run (default ") +
                     BRINTEL_DEFAULT_SERVER + ")")
      ->type_name("HOST[:PORT]");
  app.add_option("--address", options.address,
                 "Server address as the hidden address box would hold it "
                 "(asks http://TEXT:82/getnameplovix.asp)")
      ->type_name("TEXT");
  app.add_option("--program", options.program, "Choose this program (matched by name)")
      ->type_name("NAME");
  app.add_flag("--yes", options.yes,
               "Answer every message with OK; without --program take the first program");
  app.add_flag("--list", options.list, "Print the program list in sorted order and stop");
  app.add_option("--search-timeout", options.searchTimeout,
                 "Give up when no display is found for this long (default: search until "
                 "interrupted)")
      ->type_name("SECONDS")
      ->check(CLI::PositiveNumber);
  app.add_option("--trace", options.trace, "Write every byte on the serial line to FILE")
      ->type_name("FILE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return EXIT_USAGE;
  }
  return options;
}

}  // namespace brintel::cli
