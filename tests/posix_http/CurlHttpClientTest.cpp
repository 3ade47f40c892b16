#include "server/posix/CurlHttpClient.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/LoopbackServer.h"

namespace brintel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using Outcome = HttpResponse::Outcome;
using std::chrono::milliseconds;
using test::LoopbackSocket;
using test::RawHttpServer;

std::string Loopback(int port, const std::string& target) {
  return "http://127.0.0.1:" + std::to_string(port) + target;
}

CurlHttpClient::Options TestOptions() {
  CurlHttpClient::Options options;
  options.userAgent = "brintel-cli";
  options.connectTimeout = milliseconds{1000};
  options.stallTimeout = milliseconds{1000};
  options.totalTimeout = milliseconds{5000};
  options.useEnvironmentProxy = false;
  return options;
}

std::string BinaryBody() {
  std::string body = "K_A\r\n_B\nline\r";
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    body += static_cast<char>(byte);
  }
  body += '\0';
  body += "end";
  return body;
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }
  void Set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Well-behaved replies from cpp-httplib running in this process.
class CurlHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A client that gives up mid-reply must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    server_.Get("/echo", [this](const httplib::Request& request, httplib::Response& response) {
      const std::lock_guard<std::mutex> lock(mutex_);
      seenTarget_ = request.target;
      seenUserAgent_ = request.get_header_value("User-Agent");
      response.set_content(BinaryBody(), "application/octet-stream");
    });
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
      response.status = 404;
      response.set_content("<html>no such program</html>", "text/html");
    });
    server_.Get("/old", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/new?id=7");
    });
    server_.Get("/new", [this](const httplib::Request& request, httplib::Response& response) {
      const std::lock_guard<std::mutex> lock(mutex_);
      seenTarget_ = request.target;
      response.set_content("new page", "text/plain");
    });
    server_.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/loop");
    });
    server_.Get(
        R"(/sized/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
          response.set_content(std::string(std::stoul(request.matches[1]), 'x'), "text/plain");
        });
    // No Content-Length: the size is only known once the body has arrived.
    server_.Get(R"(/chunked/(\d+))",
                [](const httplib::Request& request, httplib::Response& response) {
                  const std::size_t size = std::stoul(request.matches[1]);
                  response.set_chunked_content_provider(
                      "text/plain", [size](std::size_t offset, httplib::DataSink& sink) {
                        const std::string piece(std::min<std::size_t>(100, size - offset), 'y');
                        sink.write(piece.data(), piece.size());
                        if (offset + piece.size() == size) {
                          sink.done();
                        }
                        return true;
                      });
                });

    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 200 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(milliseconds{5});
    }
    ASSERT_TRUE(server_.is_running());
  }

  void TearDown() override {
    server_.stop();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  std::string Url(const std::string& target) const { return Loopback(port_, target); }
  std::string SeenTarget() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seenTarget_;
  }
  std::string SeenUserAgent() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seenUserAgent_;
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string seenTarget_;
  std::string seenUserAgent_;
};

TEST_F(CurlHttpClientTest, BodyComesBackByteForByteWithTheUserAgent) {
  CurlHttpClient client(TestOptions());
  const HttpResponse response = client.Get(Url("/echo?id=0123456789ABCDEF"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, BinaryBody());
  EXPECT_EQ(SeenUserAgent(), "brintel-cli");
}

TEST_F(CurlHttpClientTest, PathAndQueryReachTheServerAsGiven) {
  CurlHttpClient client(TestOptions());
  // Escapes stay escapes and GBK bytes stay raw: the server gets the exact bytes.
  const std::string target = "/echo?id=0123456789ABCDEF&type=%20%26%C9%FD&raw=\xC9\xFD_x";
  ASSERT_EQ(client.Get(Url(target)).outcome, Outcome::kBody);
  EXPECT_EQ(SeenTarget(), target);

  // A program name with blanks is appended unescaped; curl would refuse it.
  ASSERT_EQ(client.Get(Url("/echo?id=1&type=New map 2")).outcome, Outcome::kBody);
  EXPECT_EQ(SeenTarget(), "/echo?id=1&type=New%20map%202");
}

TEST_F(CurlHttpClientTest, ErrorPageIsABody) {
  const HttpResponse response = CurlHttpClient(TestOptions()).Get(Url("/missing"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, "<html>no such program</html>");
}

TEST_F(CurlHttpClientTest, RedirectsAreFollowedWithinALimit) {
  CurlHttpClient client(TestOptions());
  const HttpResponse moved = client.Get(Url("/old"));
  ASSERT_EQ(moved.outcome, Outcome::kBody) << moved.detail;
  EXPECT_EQ(moved.body, "new page");
  EXPECT_EQ(SeenTarget(), "/new?id=7");

  const HttpResponse endless = client.Get(Url("/loop"));
  EXPECT_EQ(endless.outcome, Outcome::kInternetError);
  EXPECT_THAT(endless.detail, Not(IsEmpty()));
}

TEST_F(CurlHttpClientTest, BodyLargerThanTheCapFails) {
  CurlHttpClient::Options options = TestOptions();
  options.maxBodyBytes = 1024;
  CurlHttpClient client(options);
  for (const std::string kind : {"/sized/", "/chunked/"}) {
    SCOPED_TRACE(kind);
    const HttpResponse atCap = client.Get(Url(kind + "1024"));
    ASSERT_EQ(atCap.outcome, Outcome::kBody) << atCap.detail;
    EXPECT_EQ(atCap.body.size(), 1024u);

    for (const char* size : {"1025", "100000"}) {
      const HttpResponse over = client.Get(Url(kind + size));
      EXPECT_EQ(over.outcome, Outcome::kInternetError) << size;
      EXPECT_THAT(over.body, IsEmpty());
      EXPECT_THAT(over.detail, HasSubstr("1024"));
    }
  }
}

// brintel-cli keeps the options' own cap: 16 MiB is a body, one byte more fails.
TEST_F(CurlHttpClientTest, DefaultCapIsSixteenMebibytes) {
  CurlHttpClient::Options options;
  options.useEnvironmentProxy = false;
  CurlHttpClient client(options);
  constexpr std::size_t kCap = std::size_t{16} << 20;
  const HttpResponse atCap = client.Get(Url("/sized/" + std::to_string(kCap)));
  ASSERT_EQ(atCap.outcome, Outcome::kBody) << atCap.detail;
  EXPECT_EQ(atCap.body.size(), kCap);

  const HttpResponse over = client.Get(Url("/sized/" + std::to_string(kCap + 1)));
  EXPECT_EQ(over.outcome, Outcome::kInternetError);
  EXPECT_THAT(over.body, IsEmpty());
  EXPECT_THAT(over.detail, HasSubstr(std::to_string(kCap)));
}

TEST_F(CurlHttpClientTest, ProxyFromTheEnvironmentIsUsedUnlessSwitchedOff) {
  RawHttpServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\nproxied");
  ScopedEnvironment environment;
  environment.Set("http_proxy", Loopback(proxy.port(), "/"));
  for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"}) {
    environment.Set(name, std::nullopt);
  }

  CurlHttpClient::Options options = TestOptions();
  options.useEnvironmentProxy = true;
  const HttpResponse viaProxy = CurlHttpClient(options).Get("http://brintel.invalid/list?id=1");
  ASSERT_EQ(viaProxy.outcome, Outcome::kBody) << viaProxy.detail;
  EXPECT_EQ(viaProxy.body, "proxied");
  EXPECT_THAT(proxy.LastRequest(), StartsWith("GET http://brintel.invalid/list?id=1 HTTP/1.1\r\n"));

  // Switched off, the request goes straight to our server, not to the proxy.
  const HttpResponse direct = CurlHttpClient(TestOptions()).Get(Url("/missing"));
  ASSERT_EQ(direct.outcome, Outcome::kBody) << direct.detail;
  EXPECT_EQ(direct.body, "<html>no such program</html>");
}

// Failures the core must see as internet errors, from raw sockets.
class CurlHttpClientFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

  HttpResponse TimedGet(const CurlHttpClient::Options& options, const std::string& url) {
    const auto start = std::chrono::steady_clock::now();
    HttpResponse response = CurlHttpClient(options).Get(url);
    elapsed_ = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    return response;
  }

  milliseconds elapsed_{0};
};

TEST_F(CurlHttpClientFailureTest, RefusedConnectionFailsAtOnce) {
  const LoopbackSocket closed;  // bound, never listening
  const HttpResponse response = TimedGet(TestOptions(), Loopback(closed.port(), "/list"));
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.detail, Not(IsEmpty()));
  EXPECT_LT(elapsed_, milliseconds{1000});
}

TEST_F(CurlHttpClientFailureTest, SilentServerEndsInTheStallTimeout) {
  LoopbackSocket silent;
  silent.Listen(8);  // connections complete in the kernel; nobody answers
  CurlHttpClient::Options options = TestOptions();
  options.stallTimeout = milliseconds{300};
  const HttpResponse response = TimedGet(options, Loopback(silent.port(), "/list"));
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.detail, HasSubstr("300 ms"));
  EXPECT_LT(elapsed_, milliseconds{3000});
}

TEST_F(CurlHttpClientFailureTest, UnansweredConnectEndsInTheConnectTimeout) {
  LoopbackSocket full;
  full.Listen(0);
  full.ConnectOnce();  // fills the backlog, so the next SYN is dropped
  CurlHttpClient::Options options = TestOptions();
  options.connectTimeout = milliseconds{300};
  options.stallTimeout = milliseconds{5000};
  const HttpResponse response = TimedGet(options, Loopback(full.port(), "/list"));
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.detail, Not(IsEmpty()));
  EXPECT_LT(elapsed_, milliseconds{3000});
}

TEST_F(CurlHttpClientFailureTest, SlowSteadyReplyIsNotAStall) {
  // Five pieces 100 ms apart: 400 ms in all, longer than the stall time-out,
  // but never silent for that long.
  RawHttpServer slow({"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n", "ab", "cd", "ef", "gh"},
                     milliseconds{100});
  CurlHttpClient::Options options = TestOptions();
  options.stallTimeout = milliseconds{300};
  options.connectTimeout = milliseconds{200};  // bounds the connection, not the reply
  const HttpResponse response = TimedGet(options, Loopback(slow.port(), "/list"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, "abcdefgh");
  EXPECT_GE(elapsed_, milliseconds{300});
}

// A byte every 100 ms never stalls, but the request has a deadline in all;
// so has a silent server whose stall time-out is longer than it.
TEST_F(CurlHttpClientFailureTest, TricklingOrSilentServerEndsAtTheRequestsDeadline) {
  EXPECT_EQ(CurlHttpClient::Options{}.totalTimeout, milliseconds{60'000});
  std::vector<std::string> pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n"};
  pieces.resize(41, "x");
  RawHttpServer trickle(pieces, milliseconds{100});
  LoopbackSocket silent;
  silent.Listen(8);
  CurlHttpClient::Options options = TestOptions();
  options.stallTimeout = milliseconds{5000};
  options.totalTimeout = milliseconds{700};
  for (const int port : {trickle.port(), silent.port()}) {
    const HttpResponse response = TimedGet(options, Loopback(port, "/list"));
    EXPECT_EQ(response.outcome, Outcome::kInternetError);
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_GE(elapsed_, milliseconds{650});  // curl keeps its own clock
    EXPECT_LT(elapsed_, milliseconds{3000}) << "the trickle takes 4 s";
  }
}

TEST_F(CurlHttpClientFailureTest, ConnectionDroppedMidBodyIsNeverABody) {
  const std::vector<std::pair<const char*, std::string>> replies = {
      {"short of Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789"},
      {"chunked without its last chunk",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nK_A_B\r\n"},
      {"chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nK_A"},
      {"headers cut short", "HTTP/1.1 200 OK\r\nContent-Le"},
      {"status line cut short", "HTTP/1.1 20"},
      {"nothing at all", ""},
  };
  for (const auto& [name, reply] : replies) {
    SCOPED_TRACE(name);
    const RawHttpServer server(reply);
    // After a redirect, whose own headers ended well, as well as directly.
    const RawHttpServer redirect("HTTP/1.1 302 Found\r\nLocation: " + server.Url("/list") +
                                 "\r\nContent-Length: 0\r\n\r\n");
    for (const int port : {server.port(), redirect.port()}) {
      const HttpResponse response = TimedGet(TestOptions(), Loopback(port, "/list"));
      EXPECT_EQ(response.outcome, Outcome::kInternetError)
          << (port == server.port() ? "direct" : "after a redirect");
      EXPECT_THAT(response.body, IsEmpty());
      EXPECT_THAT(response.detail, Not(IsEmpty()));
    }
    EXPECT_EQ(server.Connections(), 2);
  }
}

TEST_F(CurlHttpClientFailureTest, BodyEndedByCloseOrLastChunkIsWhole) {
  const std::vector<std::pair<const char*, std::string>> replies = {
      {"no length, ends at close", "HTTP/1.0 200 OK\r\n\r\nK_A\r\n_B"},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nK_A\r\n4\r\n\r\n_B\r\n0\r\n\r\n"},
  };
  for (const auto& [name, reply] : replies) {
    SCOPED_TRACE(name);
    const RawHttpServer server(reply);
    const HttpResponse response = TimedGet(TestOptions(), Loopback(server.port(), "/list"));
    ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
    EXPECT_EQ(response.body, "K_A\r\n_B");
  }
}

TEST_F(CurlHttpClientFailureTest, UrlsCurlRefusesAreInternetErrors) {
  // A blank in the address box makes a blank host; the core expects this to
  // fail like an unreachable server. Other schemes are never fetched.
  for (const char* url :
       {"http:// :82/getnameplovix.asp?id=1", "", "file:///etc/passwd", "ftp://127.0.0.1/list"}) {
    SCOPED_TRACE(url);
    const HttpResponse response = TimedGet(TestOptions(), url);
    EXPECT_EQ(response.outcome, Outcome::kInternetError);
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_THAT(response.detail, Not(IsEmpty()));
  }
}

}  // namespace
}  // namespace brintel
