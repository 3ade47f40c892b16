#include "server/posix/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace brintel {
namespace {

using Clock = std::chrono::steady_clock;

// Once per process; the function-local static makes it thread-safe. There is
// no matching curl_global_cleanup: it is not thread-safe and exit frees it all.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// curl requires an easy handle to leave its multi handle before either is
// cleaned up.
class Attachment {
 public:
  Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
    attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }
  ~Attachment() {
    if (attached_) {
      curl_multi_remove_handle(multi_, easy_);
    }
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  bool attached() const { return attached_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool attached_ = false;
};

// What curl writes into while the transfer runs.
struct Transfer {
  std::string body;
  std::size_t maxBodyBytes = 0;
  bool bodyTooLarge = false;
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};
  // True from a status line to the blank line that ends its headers.
  bool inHeaders = false;
  bool headersEnded = false;
  Clock::time_point lastByte;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  transfer.lastByte = Clock::now();
  if (bytes > transfer.maxBodyBytes - transfer.body.size()) {
    transfer.bodyTooLarge = true;
    return 0;  // anything short of `bytes` makes curl abort the transfer
  }
  transfer.body.append(data, bytes);
  return bytes;
}

// curl reports success for a reply cut off inside its headers, with an empty
// body; watching for the blank line that ends them tells the two apart.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  const std::string_view line(data, bytes);
  transfer.lastByte = Clock::now();
  if (line.starts_with("HTTP/")) {
    transfer.inHeaders = true;
  } else if (transfer.inHeaders && (line == "\r\n" || line == "\n")) {
    transfer.inHeaders = false;
    transfer.headersEnded = true;
  }
  return bytes;
}

// Program names go into the query unescaped and may hold blanks, which curl
// refuses in a URL. Escape only what curl would refuse, and only after the
// host, so that a blank host still fails like an unreachable server.
std::string EscapeForCurl(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t pathStart = url.find_first_of("/?#", hostStart);
  if (pathStart == std::string::npos) {
    return url;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped = url.substr(0, pathStart);
  for (std::size_t i = pathStart; i < url.size(); ++i) {
    const auto byte = static_cast<unsigned char>(url[i]);
    if (byte <= 0x20 || byte == 0x7F) {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += url[i];
    }
  }
  return escaped;
}

long ToCurlMillis(std::chrono::milliseconds duration) {
  return static_cast<long>(std::max<std::chrono::milliseconds::rep>(duration.count(), 1));
}

HttpResponse Failure(HttpResponse::Outcome outcome, std::string detail) {
  HttpResponse response;
  response.outcome = outcome;
  response.detail = std::move(detail);
  return response;
}

// Sets `handle` up for one GET of `url` into `transfer`; curl keeps pointers to both.
CURLcode Configure(CURL* handle, const CurlHttpClient::Options& options, const std::string& url,
                   Transfer& transfer) {
  const auto maxFileSize = static_cast<curl_off_t>(std::min<std::size_t>(
      options.maxBodyBytes, static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max())));
  CURLcode setup = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (setup == CURLE_OK) {
      setup = curl_easy_setopt(handle, option, value);
    }
  };
  set(CURLOPT_ERRORBUFFER, transfer.errorBuffer.data());
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_USERAGENT, options.userAgent.c_str());
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
#if LIBCURL_VERSION_NUM >= 0x075500
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
  set(CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  set(CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  set(CURLOPT_CONNECTTIMEOUT_MS, ToCurlMillis(options.connectTimeout));
  set(CURLOPT_TIMEOUT_MS, ToCurlMillis(options.totalTimeout));
  // The body is handed over exactly as sent; the core does its own cleaning.
  set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
  // Refuses early when the announced length is already too large; OnBody
  // enforces the cap for bodies of unknown length.
  set(CURLOPT_MAXFILESIZE_LARGE, maxFileSize);
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  if (!options.useEnvironmentProxy) {
    set(CURLOPT_PROXY, "");  // an empty proxy overrides the environment's
  }
  return setup;
}

// Runs the transfer until curl is done with it. Driven through the multi
// interface so that the stall time-out and the deadline can be checked to the
// millisecond; curl's own low-speed check counts whole seconds. Nothing when
// curl finished, whether or not the transfer succeeded.
std::optional<HttpResponse> Drive(CURLM* multi, Transfer& transfer,
                                  const CurlHttpClient::Options& options) {
  using Outcome = HttpResponse::Outcome;
  using std::chrono::milliseconds;
  const auto stall = std::max(options.stallTimeout, milliseconds{1});
  const auto total = std::max(options.totalTimeout, milliseconds{1});
  transfer.lastByte = Clock::now();
  const auto deadline = transfer.lastByte + total;
  int running = 1;
  while (true) {
    const CURLMcode performed = curl_multi_perform(multi, &running);
    if (performed != CURLM_OK) {
      return Failure(Outcome::kInternetError, curl_multi_strerror(performed));
    }
    if (running == 0) {
      return std::nullopt;
    }
    const auto now = Clock::now();
    const auto idle = now - transfer.lastByte;
    if (idle >= stall) {
      return Failure(Outcome::kInternetError,
                     "no data from the server for " + std::to_string(stall.count()) + " ms");
    }
    if (now >= deadline) {
      return Failure(Outcome::kInternetError,
                     "no complete reply within " + std::to_string(total.count()) + " ms");
    }
    const auto left = std::chrono::ceil<milliseconds>(std::min(stall - idle, deadline - now));
    const CURLMcode polled =
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(left.count()), nullptr);
    if (polled != CURLM_OK) {
      return Failure(Outcome::kInternetError, curl_multi_strerror(polled));
    }
  }
}

// The body of a transfer curl has finished, or why it is not trusted.
HttpResponse Verdict(CURLM* multi, CURL* handle, Transfer& transfer) {
  using Outcome = HttpResponse::Outcome;
  // Without curl's verdict the body may be partial, so it is not trusted.
  CURLcode result = CURLE_RECV_ERROR;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
      result = message->data.result;
    }
  }
  if (transfer.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    return Failure(Outcome::kInternetError,
                   "body larger than " + std::to_string(transfer.maxBodyBytes) + " bytes");
  }
  if (result != CURLE_OK) {
    return Failure(Outcome::kInternetError, transfer.errorBuffer[0] != '\0'
                                                ? transfer.errorBuffer.data()
                                                : curl_easy_strerror(result));
  }
  if (transfer.inHeaders || !transfer.headersEnded) {
    return Failure(Outcome::kInternetError, "connection closed inside the reply headers");
  }

  HttpResponse response;
  response.outcome = Outcome::kBody;
  response.body = std::move(transfer.body);
  return response;
}

}  // namespace

CurlHttpClient::CurlHttpClient(Options options) : options_(std::move(options)) {
  CurlReady();
}

HttpResponse CurlHttpClient::Get(const std::string& url) {
  using Outcome = HttpResponse::Outcome;
  if (!CurlReady()) {
    return Failure(Outcome::kNotOpened, "libcurl could not be initialised");
  }
  EasyHandle easy(curl_easy_init());
  MultiHandle multi(curl_multi_init());
  if (!easy || !multi) {
    return Failure(Outcome::kNotOpened, "no libcurl handle");
  }

  Transfer transfer;
  transfer.maxBodyBytes = options_.maxBodyBytes;
  const std::string escapedUrl = EscapeForCurl(url);
  const CURLcode setup = Configure(easy.get(), options_, escapedUrl, transfer);
  if (setup != CURLE_OK) {
    return Failure(Outcome::kNotOpened, curl_easy_strerror(setup));
  }

  const Attachment attachment(multi.get(), easy.get());
  if (!attachment.attached()) {
    return Failure(Outcome::kNotOpened, "libcurl refused the request handle");
  }
  if (std::optional<HttpResponse> failure = Drive(multi.get(), transfer, options_)) {
    return std::move(*failure);
  }
  return Verdict(multi.get(), easy.get(), transfer);
}

}  // namespace brintel
