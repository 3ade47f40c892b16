#include "server/win32/WinInetHttpClient.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
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
using ::testing::StartsWith;
using Outcome = HttpResponse::Outcome;
using Clock = std::chrono::steady_clock;
using test::LoopbackSocket;
using test::RawHttpServer;
using test::Reply;
using test::Trickle;
using namespace std::chrono_literals;

WinInetHttpClient::Options TestOptions() {
  WinInetHttpClient::Options options;
  options.userAgent = "brintel";
  options.connectTimeout = 2s;
  options.receiveTimeout = 2s;
  options.sendTimeout = 2s;
  return options;
}

HttpResponse Get(const std::string& url) {
  return WinInetHttpClient(TestOptions()).Get(url);
}

// Line ends of every kind, every byte from 0x80 up, a NUL, and more than one
// 4096-byte read.
std::string BinaryBody() {
  std::string body = "K_A\r\n_B\nline\r";
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    body += static_cast<char>(byte);
  }
  body += '\0';
  for (int i = 0; body.size() < 10'000; ++i) {
    body += static_cast<char>(i * 7);
  }
  return body + "end";
}

TEST(WinInetHttpClient, BodyComesBackByteForByte) {
  RawHttpServer server(Reply(BinaryBody()));
  const HttpResponse response = Get(server.Url("/cargetnameplovix.asp?id=0123456789ABCDEF"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, BinaryBody());
}

TEST(WinInetHttpClient, RequestIsAPlainGetWithTheProgramsNameAsUserAgent) {
  RawHttpServer server(Reply("K_A"));
  ASSERT_EQ(Get(server.Url("/getnameplovix.asp?id=0123456789ABCDEF&type=A")).outcome,
            Outcome::kBody);
  EXPECT_THAT(server.LastRequest(),
              StartsWith("GET /getnameplovix.asp?id=0123456789ABCDEF&type=A HTTP/1.1\r\n"));
  EXPECT_THAT(server.LastRequest(), HasSubstr("\r\nUser-Agent: brintel\r\n"));
}

TEST(WinInetHttpClient, ErrorPageIsABody) {
  RawHttpServer server(Reply("<html>no such program</html>", "404 Not Found"));
  const HttpResponse response = Get(server.Url("/missing"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, "<html>no such program</html>");
}

// Without a length the body ends where the server closes the connection.
TEST(WinInetHttpClient, BodyWithoutLengthIsReadToTheClose) {
  RawHttpServer server(
      std::vector<std::string>{"HTTP/1.0 200 OK\r\n\r\n", BinaryBody().substr(0, 5000),
                               BinaryBody().substr(5000)},
      20ms);
  const HttpResponse response = Get(server.Url("/"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, BinaryBody());
}

TEST(WinInetHttpClient, ChunkedBodyIsJoined) {
  RawHttpServer server(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
      "5\r\nK_A\r\n\r\n3\r\n_B\n\r\n0\r\n\r\n");
  const HttpResponse response = Get(server.Url("/"));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body, "K_A\r\n_B\n");
}

TEST(WinInetHttpClient, RefusedConnectionIsAnInternetError) {
  const LoopbackSocket closed;  // bound, never listening
  const auto start = Clock::now();
  const HttpResponse response =
      Get("http://127.0.0.1:" + std::to_string(closed.port()) + "/cargetnameplovix.asp?id=1");
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.detail, HasSubstr("InternetOpenUrlA"));
  EXPECT_THAT(response.body, IsEmpty());
  EXPECT_LT(Clock::now() - start, 2s);
}

// A cut-off package must never pass for a whole one.
TEST(WinInetHttpClient, BodyCutShortOfItsLengthIsAnInternetError) {
  RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 40000\r\nConnection: close\r\n\r\n" +
                       std::string(30'000, 'x'));
  const HttpResponse response = Get(server.Url("/"));
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.body, IsEmpty());
  EXPECT_THAT(response.detail, HasSubstr("30000 of 40000"));
}

// A server that closes without any reply: no status line, no body.
TEST(WinInetHttpClient, ConnectionClosedWithoutAReplyIsAnInternetError) {
  RawHttpServer server("");
  const HttpResponse response = Get(server.Url("/"));
  EXPECT_EQ(response.outcome, Outcome::kInternetError);
  EXPECT_THAT(response.body, IsEmpty());
}

TEST(WinInetHttpClient, BodyOverTheLimitIsAnInternetError) {
  WinInetHttpClient::Options options = TestOptions();
  options.maxBodyBytes = 5000;
  WinInetHttpClient client(options);

  RawHttpServer exact(Reply(std::string(5000, 'x')));
  const HttpResponse fits = client.Get(exact.Url("/"));
  ASSERT_EQ(fits.outcome, Outcome::kBody) << fits.detail;
  EXPECT_EQ(fits.body.size(), 5000u);

  RawHttpServer announced(Reply(std::string(5001, 'x')));
  const HttpResponse tooLong = client.Get(announced.Url("/"));
  EXPECT_EQ(tooLong.outcome, Outcome::kInternetError);
  EXPECT_THAT(tooLong.body, IsEmpty());

  RawHttpServer unannounced(
      std::vector<std::string>{"HTTP/1.0 200 OK\r\n\r\n", std::string(5001, 'x')});
  const HttpResponse growing = client.Get(unannounced.Url("/"));
  EXPECT_EQ(growing.outcome, Outcome::kInternetError);
  EXPECT_THAT(growing.body, IsEmpty());
}

struct TimedResponse {
  std::optional<HttpResponse> response;  // none when the bound passed first
  Clock::duration took{};
};

// Get on a thread of its own, waited for at most `bound`: a client that hangs
// fails the test instead of holding it. Abandoned, the thread owns all it uses.
TimedResponse BoundedGet(const WinInetHttpClient::Options& options, const std::string& url,
                         Clock::duration bound = 10s) {
  std::packaged_task<HttpResponse()> get(
      [options, url] { return WinInetHttpClient(options).Get(url); });
  std::future<HttpResponse> response = get.get_future();
  const auto start = Clock::now();
  std::thread(std::move(get)).detach();
  if (response.wait_for(bound) != std::future_status::ready) {
    ADD_FAILURE() << "Get still running after " << (bound / 1s) << " s";
    return TimedResponse{std::nullopt, Clock::now() - start};
  }
  return TimedResponse{response.get(), Clock::now() - start};
}

WinInetHttpClient::Options DeadlineOptions(std::chrono::milliseconds total) {
  WinInetHttpClient::Options options = TestOptions();
  options.totalTimeout = total;
  return options;
}

void ExpectEndedAtTheDeadline(const TimedResponse& timed, std::chrono::milliseconds deadline) {
  ASSERT_TRUE(timed.response.has_value());
  EXPECT_EQ(timed.response->outcome, Outcome::kInternetError);
  EXPECT_THAT(timed.response->detail, HasSubstr("no complete reply within"));
  EXPECT_THAT(timed.response->body, IsEmpty());
  EXPECT_GE(timed.took, deadline - 100ms);
  EXPECT_LT(timed.took, deadline + 1s);
}

TEST(WinInetHttpClient, WholeRequestHasADeadlineOfAMinuteByDefault) {
  EXPECT_EQ(WinInetHttpClient::Options{}.totalTimeout, 60s);
}

// A server that takes the connection and then says nothing must not hold the
// caller. Wine never applies the receive time-out (the read waits forever), so
// only the deadline of the whole request frees it there.
TEST(WinInetHttpClient, SilentServerEndsInAnInternetErrorAtTheDeadline) {
  const WinInetHttpClient::Options options = DeadlineOptions(1500ms);

  RawHttpServer silent(std::vector<std::string>{}, 0ms, true);
  ExpectEndedAtTheDeadline(BoundedGet(options, silent.Url("/")), 1500ms);

  RawHttpServer stalled(
      std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nK_A"}, 0ms, true);
  ExpectEndedAtTheDeadline(BoundedGet(options, stalled.Url("/")), 1500ms);
}

// A byte every 200 ms renews any time-out between reads; the deadline ends the
// request long before the server would finish (8 s).
TEST(WinInetHttpClient, TricklingServerEndsInAnInternetErrorAtTheDeadline) {
  RawHttpServer trickling(Trickle(Reply(std::string(40, 'x'))), 200ms);
  ExpectEndedAtTheDeadline(BoundedGet(DeadlineOptions(1500ms), trickling.Url("/")), 1500ms);
}

// The deadline is for the whole request, not for the connection or for each
// read: a slow reply that is whole within it is a body.
TEST(WinInetHttpClient, SlowReplyWithinTheDeadlineIsABody) {
  WinInetHttpClient::Options options = DeadlineOptions(5s);
  options.connectTimeout = 500ms;
  options.receiveTimeout = 500ms;
  RawHttpServer slow(Trickle(Reply("K_A_slow_but_whole")), 100ms);
  const TimedResponse timed = BoundedGet(options, slow.Url("/"));
  ASSERT_TRUE(timed.response.has_value());
  ASSERT_EQ(timed.response->outcome, Outcome::kBody) << timed.response->detail;
  EXPECT_EQ(timed.response->body, "K_A_slow_but_whole");
  EXPECT_GT(timed.took, 1500ms);  // slower than both per-wait time-outs together
}

// Several channels' clients at once, each abandoning trickling requests at
// their deadlines while the others open new ones: every whole reply that
// comes back is the one its own server sent. A thread of an abandoned request
// that read through a closed handle, whose value another request had taken
// meanwhile, would take that request's bytes.
TEST(WinInetHttpClient, AbandonedRequestsNeverReadAnotherChannelsReply) {
  constexpr int kChannels = 4;
  std::vector<std::unique_ptr<RawHttpServer>> own;
  for (int channel = 0; channel < kChannels; ++channel) {
    own.push_back(std::make_unique<RawHttpServer>(
        Trickle(Reply("K_" + std::to_string(channel) + std::string(20, 'x'))), 5ms));
  }
  RawHttpServer trickling(Trickle(Reply(std::string(400, 'y'))), 20ms);
  std::vector<std::thread> threads;
  std::atomic<int> whole{0};
  for (int channel = 0; channel < kChannels; ++channel) {
    threads.emplace_back([&, channel] {
      WinInetHttpClient abandoning(DeadlineOptions(std::chrono::milliseconds(150 + 40 * channel)));
      WinInetHttpClient client(TestOptions());
      const std::string expected = "K_" + std::to_string(channel) + std::string(20, 'x');
      for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(abandoning.Get(trickling.Url("/")).outcome, Outcome::kInternetError);
        const HttpResponse reply = client.Get(own[static_cast<std::size_t>(channel)]->Url("/"));
        if (reply.outcome == Outcome::kBody) {
          EXPECT_EQ(reply.body, expected) << "channel " << channel;
          ++whole;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(whole.load(), kChannels * 5);
}

}  // namespace
}  // namespace brintel
