#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "SimServerSupport.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"
#include "server/posix/CurlHttpClient.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Faults.h"

namespace brintel::sim {
namespace {

using ::testing::StartsWith;
using Outcome = HttpResponse::Outcome;
using std::chrono::milliseconds;
using test::DisplayProgram;
using test::kDeviceId;
using test::RawGet;
using test::WithoutLineBreaks;

const std::string kName = "Standard";

ServerFault Fault(std::string_view text) {
  return brintel::testing::ServerFault(text);
}

// Each test sets its faults on a running server, then asks as the tool does.
class ServerFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    listUrl_ = ListUrl("", "127.0.0.1:" + std::to_string(server_.Port()), kDeviceId);
    packageUrl_ = PackageUrl(listUrl_, kName);
  }
  HttpResponse Get(const std::string& url) { return http_.Get(url); }
  test::WireReply Wire(bool package) {
    const std::string target = "/cargetnameplovix.asp?id=" + kDeviceId;
    return RawGet("127.0.0.1", server_.Port(), package ? target + "&type=" + kName : target);
  }
  static CurlHttpClient::Options ToolOptions() {
    CurlHttpClient::Options options;
    options.userAgent = "brintel-cli";
    options.connectTimeout = milliseconds{1000};
    options.stallTimeout = milliseconds{2000};
    options.useEnvironmentProxy = false;
    return options;
  }

  ProgramServer server_{Catalogue::Default(), {}};
  CurlHttpClient http_{ToolOptions()};
  std::string listUrl_;
  std::string packageUrl_;
};

TEST_F(ServerFaultsTest, ListFaultsBreakTheKeyOrTheSeparator) {
  server_.SetFaults({Fault("no-separator")});
  EXPECT_EQ(WithoutLineBreaks(Get(listUrl_).body), "NOPROGRAMS");
  EXPECT_EQ(ListKey("NOPROGRAMS"), std::nullopt);

  server_.SetFaults({Fault("empty-key")});
  const std::string empty = WithoutLineBreaks(Get(listUrl_).body);
  EXPECT_EQ(ListKey(empty), "");
  EXPECT_EQ(SplitProgramNames(empty).size(), server_.GetCatalogue().Programs().size());

  server_.SetFaults({Fault("long-key")});
  const std::optional<std::string> longKey = ListKey(WithoutLineBreaks(Get(listUrl_).body));
  ASSERT_TRUE(longKey.has_value());
  EXPECT_EQ(longKey->size(), LIST_KEY_MAX + 1);

  // List faults leave the package alone.
  const HttpResponse package = Get(packageUrl_);
  EXPECT_TRUE(HoldsValidPayload(WithoutLineBreaks(package.body)));
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kNoSeparator), 1);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kEmptyKey), 1);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kLongKey), 1);
}

TEST_F(ServerFaultsTest, ShortBodyIsOneByteUnderTheMinimum) {
  server_.SetFaults({Fault("short-body")});
  const std::string text = WithoutLineBreaks(Get(packageUrl_).body);
  EXPECT_EQ(text.size(), PACKAGE_MIN_SIZE - 1);
  EXPECT_THAT(text, StartsWith(kDeviceId));
  EXPECT_TRUE(ListKey(WithoutLineBreaks(Get(listUrl_).body)).has_value());
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kShortBody), 1);
}

// Full length and for this display, so only the payload check can refuse them.
TEST_F(ServerFaultsTest, NonHexAndUnseparatedPackagesKeepTheirLengthAndIdentity) {
  server_.SetFaults({Fault("non-hex"), Fault("package:no-separator")});
  const std::string text = WithoutLineBreaks(Get(packageUrl_).body);
  EXPECT_THAT(text, StartsWith(kDeviceId));
  EXPECT_EQ(FindSeparator(text), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), 'G'), 1);
  EXPECT_FALSE(HoldsValidPayload(text));
  EXPECT_TRUE(ListKey(WithoutLineBreaks(Get(listUrl_).body)).has_value()) << "the list is whole";
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kNonHex), 1);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kNoSeparator), 1);
}

TEST_F(ServerFaultsTest, OtherDevicePackageIsCompleteButNotForThisDisplay) {
  server_.SetFaults({Fault("other-device")});
  const std::string text = WithoutLineBreaks(Get(packageUrl_).body);
  const std::string label = text.substr(0, 16);
  EXPECT_NE(label, kDeviceId);
  EXPECT_TRUE(IsDeviceId(label));
  EXPECT_TRUE(HoldsValidPayload(text));
  EXPECT_EQ(DisplayProgram(text, label, server_.GetCatalogue().ListKeyFor(label)),
            server_.ExpectedProgram(kName));
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kOtherDevice), 1);
}

TEST_F(ServerFaultsTest, TruncatedBodyClosesTheConnectionHalfWay) {
  server_.SetFaults({Fault("package:truncated-body")});
  const HttpResponse response = Get(packageUrl_);
  EXPECT_EQ(response.outcome, Outcome::kInternetError) << response.body.size();

  const test::WireReply wire = Wire(true);
  EXPECT_EQ(wire.status, 200);
  EXPECT_TRUE(wire.closed);
  const std::size_t promised = std::stoul(wire.Header("Content-Length"));
  EXPECT_GT(promised, static_cast<std::size_t>(PAYLOAD_DIGITS));
  EXPECT_EQ(wire.body.size(), promised / 2);
  EXPECT_EQ(Get(listUrl_).outcome, Outcome::kBody);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kTruncatedBody), 2);
}

TEST_F(ServerFaultsTest, DroppedConnectionSendsNoByte) {
  server_.SetFaults({Fault("drop-connection")});
  EXPECT_EQ(Get(listUrl_).outcome, Outcome::kInternetError);
  EXPECT_EQ(Get(packageUrl_).outcome, Outcome::kInternetError);
  const test::WireReply wire = Wire(false);
  EXPECT_TRUE(wire.connected);
  EXPECT_TRUE(wire.closed);
  EXPECT_EQ(wire.head, "");
  EXPECT_EQ(server_.Requests().back().status, 0);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kDropConnection), 3);
}

TEST_F(ServerFaultsTest, ErrorPageIsReadAsABodyThatNoFormatAccepts) {
  server_.SetFaults({Fault("error-page")});
  const HttpResponse response = Get(listUrl_);
  ASSERT_EQ(response.outcome, Outcome::kBody);
  EXPECT_EQ(ListKey(WithoutLineBreaks(response.body)), std::nullopt);
  const test::WireReply wire = Wire(true);
  EXPECT_EQ(wire.status, 500);
  EXPECT_THAT(wire.Header("Content-Type"), StartsWith("text/html"));
  EXPECT_LT(wire.body.size(), PACKAGE_MIN_SIZE);
}

TEST_F(ServerFaultsTest, SlowHoldsTheReplyAndStopCutsTheWaitShort) {
  server_.SetFaults({Fault("package:slow:200")});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(packageUrl_).outcome, Outcome::kBody);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds{200});
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kSlow), 1);

  server_.SetFaults({Fault("slow:5000")});
  auto pending = std::async(std::launch::async, [this] { return Get(listUrl_); });
  while (server_.Requests().size() < 2) {
    std::this_thread::sleep_for(milliseconds{5});
  }
  const auto stopping = std::chrono::steady_clock::now();
  server_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, milliseconds{1500});
  pending.wait();
}

TEST_F(ServerFaultsTest, FaultsChangeWhileServing) {
  server_.AddFault(Fault("error-page"));
  EXPECT_EQ(Wire(false).status, 500);
  server_.ClearFaults();
  EXPECT_EQ(Wire(false).status, 200);
  server_.AddFault(Fault("list:error-page"));
  EXPECT_EQ(Wire(true).status, 200);
  EXPECT_EQ(server_.FiredCount(ServerFaultKind::kErrorPage), 1);
}

}  // namespace
}  // namespace brintel::sim
