#include "sim/server/ProgramServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "SimServerSupport.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "server/posix/CurlHttpClient.h"

namespace brintel::sim {
namespace {

using ::testing::ContainerEq;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Outcome = HttpResponse::Outcome;
using test::DisplayProgram;
using test::kDeviceId;
using test::RawGet;
using test::WithoutLineBreaks;

CurlHttpClient::Options ToolOptions() {
  CurlHttpClient::Options options;
  options.userAgent = "brintel-cli";
  options.connectTimeout = std::chrono::milliseconds{1000};
  options.stallTimeout = std::chrono::milliseconds{2000};
  options.useEnvironmentProxy = false;
  return options;
}

class ProgramServerTest : public ::testing::Test {
 protected:
  void Start(ProgramServer::Options options = {}) {
    server_.emplace(Catalogue::Default(), std::move(options));
    server_->Start();
    listUrl_ = ListUrl("", "127.0.0.1:" + std::to_string(server_->Port()), kDeviceId);
  }
  HttpResponse Get(const std::string& url) { return http_.Get(url); }

  std::optional<ProgramServer> server_;
  std::string listUrl_;
  CurlHttpClient http_{ToolOptions()};
};

TEST_F(ProgramServerTest, ListNamesEveryProgramUnderTheDisplaysKey) {
  Start();
  const HttpResponse response = Get(listUrl_);
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  const std::string text = WithoutLineBreaks(response.body);
  EXPECT_EQ(ListKey(text), server_->GetCatalogue().ListKeyFor(kDeviceId));
  std::vector<std::string> names;
  for (const Program& program : server_->GetCatalogue().Programs()) {
    names.push_back(program.name);
  }
  // Among them 直達, whose last byte is a 0x5F trail right before a "_".
  EXPECT_THAT(SplitProgramNames(text), ContainerEq(names));
  EXPECT_THAT(names, ::testing::Contains("\xD6\xB1\xDF\x5F"));

  const test::WireReply wire =
      RawGet("127.0.0.1", server_->Port(), "/cargetnameplovix.asp?id=" + kDeviceId);
  EXPECT_EQ(wire.status, 200);
  EXPECT_EQ(wire.Header("Content-Type"), "text/plain; charset=gbk");
}

TEST_F(ProgramServerTest, EveryPackageDeKeysToTheProgramTheDisplayMustHold) {
  Start();
  const std::string key = server_->GetCatalogue().ListKeyFor(kDeviceId);
  for (const Program& program : server_->GetCatalogue().Programs()) {
    SCOPED_TRACE(program.name);
    const HttpResponse response = Get(PackageUrl(listUrl_, program.name));
    ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;

    // On the wire: CRLF after every 64 bytes.
    std::size_t lineStart = 0;
    for (std::size_t end = response.body.find("\r\n"); end != std::string::npos;
         end = response.body.find("\r\n", lineStart)) {
      const std::size_t length = end - lineStart;
      lineStart = end + 2;
      ASSERT_TRUE(length == 64 || lineStart == response.body.size()) << "line of " << length;
    }
    EXPECT_EQ(lineStart, response.body.size());

    const std::string text = WithoutLineBreaks(response.body);
    EXPECT_THAT(text, StartsWith(kDeviceId));
    const PackageHeader header = ReadPackageHeader(text);
    EXPECT_EQ(header.title, program.title);
    EXPECT_EQ(header.leftPicture * 1000 + header.rightPicture, std::stoi(program.pictures));
    EXPECT_TRUE(HoldsValidPayload(text));
    EXPECT_EQ(DisplayProgram(text, kDeviceId, key), server_->ExpectedProgram(program.name));
  }
}

TEST_F(ProgramServerTest, PackageWithoutLineBreaksIsOneLine) {
  ProgramServer::Options options;
  options.lineBreaks = false;
  Start(options);
  const Program& program = server_->GetCatalogue().Programs().front();
  const HttpResponse response = Get(PackageUrl(listUrl_, program.name));
  ASSERT_EQ(response.outcome, Outcome::kBody) << response.detail;
  EXPECT_EQ(response.body.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(response.body.size(), 16 + program.title.size() + 7 + 72100 + program.trailer.size());
}

// Names are raw bytes, not form data: only "%XX" is decoded.
TEST_F(ProgramServerTest, PlusInTheQueryIsAPlusNotABlank) {
  Start();
  const std::string base = "/cargetnameplovix.asp?id=" + kDeviceId + "&type=";
  const int port = server_->Port();
  EXPECT_EQ(RawGet("127.0.0.1", port, base + "Eco%2B").status, 200);
  const test::WireReply raw = RawGet("127.0.0.1", port, base + "Eco+");
  ASSERT_EQ(raw.status, 200);
  EXPECT_EQ(ReadPackageHeader(WithoutLineBreaks(raw.body)).title, "Eco+ economy");
  EXPECT_EQ(RawGet("127.0.0.1", port, base + "City%20%26%20Highway").status, 200);
  EXPECT_EQ(RawGet("127.0.0.1", port, base + "City+%26+Highway").status, 404);
  // %B3%5F decodes to the two bytes, not to a character.
  EXPECT_EQ(RawGet("127.0.0.1", port, base + "%D6%B1%DF%5F").status, 200);
}

TEST_F(ProgramServerTest, ErrorPagesForUnknownNamesIdsAndPaths) {
  Start();
  const int port = server_->Port();
  const std::string base = "/cargetnameplovix.asp?id=";
  const test::WireReply unknown = RawGet("127.0.0.1", port, base + kDeviceId + "&type=Sport");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_THAT(unknown.Header("Content-Type"), StartsWith("text/html"));
  EXPECT_EQ(unknown.body.find('_'), std::string::npos) << unknown.body;
  EXPECT_EQ(RawGet("127.0.0.1", port, base + kDeviceId + "&type=").status, 404);

  for (const std::string id : {"", "102726251413121", "10272625141312111", "1027262514131G11"}) {
    const test::WireReply bad = RawGet("127.0.0.1", port, base + id);
    EXPECT_EQ(bad.status, 400) << id;
    EXPECT_EQ(bad.body.find('_'), std::string::npos) << bad.body;
  }
  EXPECT_EQ(RawGet("127.0.0.1", port, "/cargetnameplovix.asp").status, 400);
  EXPECT_EQ(RawGet("127.0.0.1", port, "/default.asp?id=" + kDeviceId).status, 404);
}

TEST_F(ProgramServerTest, RecordsDecodedQueryAndUserAgent) {
  Start();
  const std::string name = "\xD6\xB1\xDF\x5F";
  ASSERT_EQ(Get(PackageUrl(listUrl_, name)).outcome, Outcome::kBody);
  const std::vector<RecordedRequest> requests = server_->Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].path, "/cargetnameplovix.asp");
  EXPECT_EQ(requests[0].Param("id"), kDeviceId);
  EXPECT_EQ(requests[0].Param("type"), name);
  EXPECT_EQ(requests[0].userAgent, "brintel-cli");
  EXPECT_EQ(requests[0].status, 200);
  EXPECT_THAT(requests[0].target, HasSubstr("type=%D6%B1%DF_"));
}

// The override form: the address box names a host, reached on port 82. Addresses
// of their own, so a parallel end-to-end test can have 127.0.0.2:82.
TEST(ProgramServerOverride, TwoServersOnPort82OfTheirOwnLoopbackAddresses) {
  ProgramServer::Options first;
  first.host = "127.0.82.1";
  first.port = 82;
  ProgramServer::Options second = first;
  second.host = "127.0.82.2";
  ProgramServer a(Catalogue::Default(), first);
  ProgramServer b(Catalogue::Default(), second);
  try {
    a.Start();
    b.Start();
  } catch (const std::runtime_error& error) {
    if (std::string(error.what()).find("Permission denied") != std::string::npos) {
      GTEST_SKIP() << "port 82 is privileged here: " << error.what();
    }
    throw;
  }
  CurlHttpClient http(ToolOptions());

  const std::string listUrl = ListUrl("127.0.82.2", "unused.invalid", kDeviceId);
  ASSERT_EQ(listUrl, "http://127.0.82.2:82/getnameplovix.asp?id=" + kDeviceId);
  const HttpResponse list = http.Get(listUrl);
  ASSERT_EQ(list.outcome, Outcome::kBody) << list.detail;
  const std::optional<std::string> key = ListKey(WithoutLineBreaks(list.body));
  ASSERT_TRUE(key.has_value());
  const HttpResponse package = http.Get(PackageUrl(listUrl, "City & Highway"));
  ASSERT_EQ(package.outcome, Outcome::kBody) << package.detail;
  EXPECT_EQ(DisplayProgram(WithoutLineBreaks(package.body), kDeviceId, *key),
            b.ExpectedProgram("City & Highway"));

  EXPECT_TRUE(a.Requests().empty());
  ASSERT_EQ(b.Requests().size(), 2U);
  EXPECT_EQ(b.Requests()[0].path, "/getnameplovix.asp");
}

TEST(ProgramServerListen, TakenAddressIsReportedByName) {
  ProgramServer first(Catalogue::Default(), {});
  first.Start();
  ProgramServer::Options options;
  options.port = first.Port();
  ProgramServer second(Catalogue::Default(), options);
  try {
    second.Start();
    FAIL() << "a second server bound a port in use";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("127.0.0.1:" + std::to_string(first.Port())));
    EXPECT_THAT(error.what(), HasSubstr("in use"));
  }
}

}  // namespace
}  // namespace brintel::sim
