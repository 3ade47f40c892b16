#pragma once

#include <string>

#include "run/RunHost.h"
#include "server/HttpClient.h"

namespace brintel::run {

// Passes requests on and tells the host why one failed, so that every front
// end (console, JSON, station, records) can say it.
class ReportingHttpClient final : public HttpClient {
 public:
  ReportingHttpClient(HttpClient& http, RunHost& host) : http_(http), host_(host) {}

  HttpResponse Get(const std::string& url) override {
    HttpResponse response = http_.Get(url);
    if (response.outcome != HttpResponse::Outcome::kBody) {
      host_.RequestFailed(url, response.detail.empty() ? "no reply" : response.detail);
    }
    return response;
  }

 private:
  HttpClient& http_;
  RunHost& host_;
};

}  // namespace brintel::run
