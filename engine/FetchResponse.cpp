#include "engine/FetchResponse.h"

#include <algorithm>

#include "engine/Messages.h"

namespace brintel {

FetchResult FetchResponse(HttpClient& http, UpgradeHost& host, const std::string& url) {
  HttpResponse response = http.Get(url);
  if (response.outcome == HttpResponse::Outcome::kInternetError) {
    host.ShowMessage(messages::kProgramError, messages::kCaptionError);
  }
  if (response.outcome != HttpResponse::Outcome::kBody) {
    host.ShowMessage(messages::kFail, messages::kCaptionError);
    return {{}, true};
  }
  std::string& body = response.body;
  body.erase(
      std::remove_if(body.begin(), body.end(), [](char c) { return c == '\r' || c == '\n'; }),
      body.end());
  return {std::move(body), false};
}

}  // namespace brintel
