#include "server/win32/WinInetHttpClient.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace brintel {
namespace {

constexpr DWORD kReadBufferBytes = 4096;
constexpr DWORD_PTR kContext = 1;

struct InternetCloser {
  void operator()(HINTERNET handle) const { ::InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

HttpResponse Failure(HttpResponse::Outcome outcome, std::string detail) {
  HttpResponse response;
  response.outcome = outcome;
  response.detail = std::move(detail);
  return response;
}

std::string CallFailed(const char* call) {
  return std::string(call) + " failed with error " + std::to_string(::GetLastError());
}

DWORD ToMillis(std::chrono::milliseconds duration) {
  const auto count = std::clamp<std::chrono::milliseconds::rep>(duration.count(), 1, MAXDWORD);
  return static_cast<DWORD>(count);
}

// Failures are ignored: a WinINet that refuses a time-out still answers, only
// with its own. Wine 8 takes the connect time-out but silently drops the
// receive and send ones; Windows applies all three.
void SetTimeout(HINTERNET session, DWORD option, std::chrono::milliseconds duration) {
  DWORD millis = ToMillis(duration);
  ::InternetSetOptionA(session, option, &millis, sizeof millis);
}

// The Content-Length the server announced, if any. Queried as text: the
// numeric form is 32 bits wide.
std::optional<std::uint64_t> AnnouncedLength(HINTERNET request) {
  std::array<char, 32> text{};
  DWORD size = static_cast<DWORD>(text.size());
  DWORD index = 0;
  if (::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text.data(), &size, &index) == FALSE) {
    return std::nullopt;
  }
  std::uint64_t length = 0;
  const char* end = text.data() + std::min<std::size_t>(size, text.size());
  const auto [stop, error] = std::from_chars(text.data(), end, length);
  if (error != std::errc{} || stop != end) {
    return std::nullopt;
  }
  return length;
}

// The reply's status code; 0 when no status line arrived. Wine opens a
// connection closed without any reply as an empty response with status 0.
DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  DWORD index = 0;
  if (::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                       &index) == FALSE) {
    return 0;
  }
  return status;
}

}  // namespace

WinInetHttpClient::WinInetHttpClient(Options options) : options_(std::move(options)) {}

HttpResponse WinInetHttpClient::Get(const std::string& url) {
  using Outcome = HttpResponse::Outcome;
  const InternetHandle session(::InternetOpenA(options_.userAgent.c_str(),
                                               INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) {
    return Failure(Outcome::kNotOpened, CallFailed("InternetOpenA"));
  }
  // Set on the session, they hold for the request opened from it; without
  // them a server that accepts and then stays silent holds the caller.
  SetTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, options_.connectTimeout);
  SetTimeout(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, options_.receiveTimeout);
  SetTimeout(session.get(), INTERNET_OPTION_SEND_TIMEOUT, options_.sendTimeout);

  const InternetHandle request(::InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0,
                                                  INTERNET_FLAG_TRANSFER_ASCII, kContext));
  if (!request) {
    return Failure(Outcome::kInternetError, CallFailed("InternetOpenUrlA"));
  }
  if (StatusCode(request.get()) == 0) {
    return Failure(Outcome::kInternetError, "the connection closed without a reply");
  }

  const std::optional<std::uint64_t> announced = AnnouncedLength(request.get());
  if (announced && *announced > options_.maxBodyBytes) {
    return Failure(Outcome::kInternetError, "announced body of " + std::to_string(*announced) +
                                                " bytes exceeds the limit of " +
                                                std::to_string(options_.maxBodyBytes));
  }

  std::string body;
  std::array<char, kReadBufferBytes> buffer{};
  while (true) {
    DWORD read = 0;
    if (::InternetReadFile(request.get(), buffer.data(), kReadBufferBytes, &read) == FALSE) {
      return Failure(Outcome::kInternetError, CallFailed("InternetReadFile"));
    }
    if (read == 0) {
      break;
    }
    if (read > options_.maxBodyBytes - body.size()) {
      return Failure(Outcome::kInternetError,
                     "body exceeds the limit of " + std::to_string(options_.maxBodyBytes));
    }
    body.append(buffer.data(), read);
  }

  // WinINet ends the body quietly when the server closes the connection
  // early; only the announced length tells a cut-off body from a whole one.
  if (announced && *announced != body.size()) {
    return Failure(Outcome::kInternetError, "connection closed after " +
                                                std::to_string(body.size()) + " of " +
                                                std::to_string(*announced) + " bytes");
  }

  HttpResponse response;
  response.outcome = Outcome::kBody;
  response.body = std::move(body);
  return response;
}

}  // namespace brintel
