// brintel-cli built without cpp-httplib: --web says so.
#include <stdexcept>

#include "cli/station/web/StationWeb.h"

namespace brintel::cli {

struct StationWeb::Server {};

StationWeb::StationWeb(StationWebSettings, std::vector<std::string>) {
  throw std::runtime_error("this brintel-cli was built without the web page (cpp-httplib)");
}

StationWeb::~StationWeb() = default;

void StationWeb::operator()(const run::RunEvent&) {}

void StationWeb::End(const std::string&) {}

std::string StationWeb::Url() const {
  return {};
}

}  // namespace brintel::cli
