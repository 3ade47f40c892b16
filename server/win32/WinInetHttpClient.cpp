#include "server/win32/WinInetHttpClient.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace brintel {
namespace {

constexpr DWORD kReadBufferBytes = 4096;
constexpr DWORD_PTR kContext = 1;

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

// One Get, shared by the caller and the thread that makes it. The caller may
// give up on it at the deadline and return while the thread is still blocked
// in WinINet: from then on the thread alone keeps it alive.
//
// A handle is closed by one side only, and never while the other may still
// use its value (a closed value can stand for another channel's request a
// moment later): the caller closes the handles only while the thread is
// blocked inside a WinINet call on them, which is what ends that call, and
// the thread never touches them again once the call returns abandoned.
// Otherwise the thread closes them itself when it next looks.
class Request {
  using Outcome = HttpResponse::Outcome;

 public:
  Request(WinInetHttpClient::Options options, std::string url)
      : options_(std::move(options)), url_(std::move(url)) {}

  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() { CloseHandles(); }

  // On the request's thread. Closes whatever handles are still open.
  void Run() {
    HttpResponse response;
    try {
      response = Fetch();
    } catch (const std::bad_alloc&) {
      // Thrown out of a thread, it would end the program.
      response = Failure(Outcome::kInternetError, "out of memory for the body");
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    CloseHandles();
    response_ = std::move(response);
  }

  // Only once the thread has ended.
  HttpResponse TakeResponse() { return std::move(response_); }

  // On the caller's thread at the deadline. Wine 8 lets a blocked
  // InternetOpenUrlA go on until the server closes; the thread ends then.
  void Abandon() {
    const std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    if (blocked_) {
      CloseHandles();
    }
  }

 private:
  HttpResponse Fetch() {
    HINTERNET session = ::InternetOpenA(options_.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                        nullptr, nullptr, 0);
    if (session == nullptr) {
      return Failure(Outcome::kNotOpened, CallFailed("InternetOpenA"));
    }
    if (!Keep(session_, session)) {
      return Abandoned();
    }
    // Set on the session, they hold for the request opened from it; each
    // bounds one wait only, the deadline bounds them all.
    SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, options_.connectTimeout);
    SetTimeout(session, INTERNET_OPTION_RECEIVE_TIMEOUT, options_.receiveTimeout);
    SetTimeout(session, INTERNET_OPTION_SEND_TIMEOUT, options_.sendTimeout);

    if (!EnterBlockingCall()) {
      return Abandoned();
    }
    HINTERNET request = ::InternetOpenUrlA(session, url_.c_str(), nullptr, 0,
                                           INTERNET_FLAG_TRANSFER_ASCII, kContext);
    const DWORD openError = ::GetLastError();
    if (!LeaveBlockingCall()) {
      if (request != nullptr) {
        ::InternetCloseHandle(request);  // never handed over: ours to close
      }
      return Abandoned();
    }
    if (request == nullptr) {
      return Failure(Outcome::kInternetError,
                     "InternetOpenUrlA failed with error " + std::to_string(openError));
    }
    if (!Keep(request_, request)) {
      return Abandoned();
    }
    if (StatusCode(request) == 0) {
      return Failure(Outcome::kInternetError, "the connection closed without a reply");
    }

    const std::optional<std::uint64_t> announced = AnnouncedLength(request);
    if (announced && *announced > options_.maxBodyBytes) {
      return Failure(Outcome::kInternetError, "announced body of " + std::to_string(*announced) +
                                                  " bytes exceeds the limit of " +
                                                  std::to_string(options_.maxBodyBytes));
    }

    std::string body;
    std::array<char, kReadBufferBytes> buffer{};
    while (true) {
      DWORD read = 0;
      if (!EnterBlockingCall()) {
        return Abandoned();
      }
      const BOOL readOk = ::InternetReadFile(request, buffer.data(), kReadBufferBytes, &read);
      const DWORD readError = ::GetLastError();
      if (!LeaveBlockingCall()) {
        return Abandoned();  // the handles may be closed: not another look at them
      }
      if (readOk == FALSE) {
        return Failure(Outcome::kInternetError,
                       "InternetReadFile failed with error " + std::to_string(readError));
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

  // Hands a new handle over to be closed by whoever finishes first, or closes
  // it at once when the caller has already gone.
  bool Keep(HINTERNET& slot, HINTERNET handle) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (abandoned_) {
      ::InternetCloseHandle(handle);
      return false;
    }
    slot = handle;
    return true;
  }

  // Around each call that may block on the network: from here the caller may
  // close the handles to end it. False when the caller has already gone.
  bool EnterBlockingCall() {
    const std::lock_guard<std::mutex> lock(mutex_);
    blocked_ = !abandoned_;
    return blocked_;
  }
  // False when the caller gave up meanwhile: the handles are then closed, or
  // about to be, and must not be used again.
  bool LeaveBlockingCall() {
    const std::lock_guard<std::mutex> lock(mutex_);
    blocked_ = false;
    return !abandoned_;
  }

  static HttpResponse Abandoned() {
    return Failure(Outcome::kInternetError, "abandoned at the deadline");
  }

  // With the mutex held, or by the last owner. The request before its
  // session, its parent.
  void CloseHandles() {
    for (HINTERNET* handle : {&request_, &session_}) {
      if (*handle != nullptr) {
        ::InternetCloseHandle(*handle);
        *handle = nullptr;
      }
    }
  }

  const WinInetHttpClient::Options options_;
  const std::string url_;
  std::mutex mutex_;
  bool abandoned_ = false;
  bool blocked_ = false;
  HINTERNET session_ = nullptr;
  HINTERNET request_ = nullptr;
  HttpResponse response_;
};

DWORD WINAPI RunRequest(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Request>> request(
      static_cast<std::shared_ptr<Request>*>(parameter));
  (*request)->Run();
  return 0;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using ThreadHandle = std::unique_ptr<void, HandleCloser>;

std::string Duration(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) {
    return std::to_string(duration.count() / 1000) + " s";
  }
  return std::to_string(duration.count()) + " ms";
}

}  // namespace

WinInetHttpClient::WinInetHttpClient(Options options) : options_(std::move(options)) {}

HttpResponse WinInetHttpClient::Get(const std::string& url) {
  const auto deadline = std::chrono::steady_clock::now() + options_.totalTimeout;
  const auto request = std::make_shared<Request>(options_, url);
  auto parameter = std::make_unique<std::shared_ptr<Request>>(request);
  const ThreadHandle thread(::CreateThread(nullptr, 0, RunRequest, parameter.get(), 0, nullptr));
  if (!thread) {
    return Failure(HttpResponse::Outcome::kInternetError, CallFailed("CreateThread"));
  }
  parameter.release();  // the thread's now

  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  // INFINITE is MAXDWORD: one below it is the longest finite wait.
  const auto wait = std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, MAXDWORD - 1);
  if (::WaitForSingleObject(thread.get(), static_cast<DWORD>(wait)) == WAIT_OBJECT_0) {
    return request->TakeResponse();
  }
  request->Abandon();
  return Failure(HttpResponse::Outcome::kInternetError,
                 "no complete reply within " + Duration(options_.totalTimeout));
}

}  // namespace brintel
