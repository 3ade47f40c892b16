#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "server/HttpClient.h"

namespace brintel {

// HttpClient on WinINet. Every Get opens its own internet session with the
// system's preconfigured proxy settings, on a thread of its own, and closes it
// before returning or when it gives up at the deadline.
class WinInetHttpClient final : public HttpClient {
 public:
  struct Options {
    // Sent as the User-Agent header: the program's file name without its
    // extension.
    std::string userAgent;
    // Longest wait for the TCP connection.
    std::chrono::milliseconds connectTimeout{10'000};
    // Longest wait for each piece of the reply, and for the request to be sent.
    std::chrono::milliseconds receiveTimeout{30'000};
    std::chrono::milliseconds sendTimeout{30'000};
    // Longest wait for the whole request, from the call to the last byte of
    // the body; per-piece time-outs alone let a trickle hold the caller.
    std::chrono::milliseconds totalTimeout{60'000};
    // A body longer than this fails the request instead of growing in memory.
    std::size_t maxBodyBytes = std::size_t{16} << 20;
  };

  explicit WinInetHttpClient(Options options);

  // Blocks until the whole body is read, the request fails, or totalTimeout
  // passes: then it returns kInternetError at once, even when WinINet is still
  // blocked, and the request's thread ends on its own later. The body of any
  // reply is kBody, whatever its HTTP status. A URL that cannot be opened, a
  // read that fails, a body cut short of its announced length or longer than
  // maxBodyBytes is kInternetError; no partial body is ever returned.
  // kNotOpened: no internet session could be made at all.
  HttpResponse Get(const std::string& url) override;

 private:
  Options options_;
};

}  // namespace brintel
