#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "server/HttpClient.h"

namespace brintel {

// HttpClient on libcurl. Each Get is a fresh connection, made and finished on
// the calling thread; concurrent Gets on one object are safe.
class CurlHttpClient final : public HttpClient {
 public:
  struct Options {
    // Sent as the User-Agent header: the program's name.
    std::string userAgent;
    // Longest wait for the TCP connection (and name lookup).
    std::chrono::milliseconds connectTimeout{10'000};
    // The request is abandoned when no byte of the reply has arrived for this
    // long, counted from the start of the request.
    std::chrono::milliseconds stallTimeout{30'000};
    // The whole request, however steadily the server trickles its reply.
    std::chrono::milliseconds totalTimeout{60'000};
    // A body longer than this fails the request instead of growing in memory.
    std::size_t maxBodyBytes = std::size_t{16} << 20;
    // True: the proxy settings of the environment (http_proxy, no_proxy, ...)
    // apply, as libcurl does by default. False: always connect directly.
    bool useEnvironmentProxy = true;
  };

  explicit CurlHttpClient(Options options);

  // Blocks until the whole body is read or the request fails; bounded by the
  // three time-outs. Redirects are followed (at most 10). Bytes that cannot stand
  // in a URL as they are (blanks, control bytes) are percent-escaped in the
  // path and query; everything else, escapes and 8-bit bytes included, is sent
  // unchanged. Any failure once curl has the request, a URL it refuses
  // included, is kInternetError; kNotOpened means curl could not be set up at
  // all.
  HttpResponse Get(const std::string& url) override;

 private:
  Options options_;
};

}  // namespace brintel
