#pragma once

#include <string>

#include "engine/UpgradeHost.h"
#include "server/HttpClient.h"

namespace brintel {

struct FetchResult {
  std::string text;  // the body without CR and LF; empty when the request failed
  bool failed = false;
};

// One GET of `url`. Returns the body with every CR and LF removed, or nothing
// when the request failed, after telling the user: "Program error!" for a
// failed request, then "fail" whenever no body came. A body cut short counts
// as a failed request, never as a response.
FetchResult FetchResponse(HttpClient& http, UpgradeHost& host, const std::string& url);

}  // namespace brintel
