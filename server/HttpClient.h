#pragma once

#include <string>

namespace brintel {

struct HttpResponse {
  enum class Outcome {
    kBody,           // a reply arrived and its whole body was read, whatever its HTTP status
    kInternetError,  // the request failed: no connection, a time-out, or an error mid-body
    kNotOpened,      // no reply was opened, without an error being raised
  };
  Outcome outcome = Outcome::kNotOpened;
  std::string body;    // raw bytes; only meaningful with kBody
  std::string detail;  // what went wrong, for logs and traces; never shown as a message box
};

// One blocking HTTP GET at a time. Implementations bound every wait on the
// network, so a dead server ends in kInternetError rather than holding the caller.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse Get(const std::string& url) = 0;
};

}  // namespace brintel
