// The list and package phases: what the user sees, in order, for every outcome
// of the two server requests, and where the run stands afterwards.

#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "engine/Messages.h"
#include "server/ProgramList.h"

namespace brintel::testing {
namespace {

using Log = std::vector<std::string>;

const std::string kUnplugMsg = std::string("message No error|") + messages::kUnplug;
const std::string kProgramErrorMsg = "message Error|Program error!";
const std::string kFailMsg = "message Error|fail";
const std::string kNoListMsg = std::string("message Error|") + messages::kNoList;
const std::string kNoPackageMsg = std::string("message Error|") + messages::kNoPackage;

// Runs the search to its end on a display at COM3; the next tick is the list phase's.
void FindDisplay(EngineHarness& h, std::string_view id = kDeviceId) {
  h.PlugIn("COM3", {}, id);
  h.Start({"COM3"});
  h.Tick(3);
  ASSERT_EQ(h.engine.phase(), PHASE_LIST);
  h.host.log.clear();
}

class ServerPhases : public ::testing::Test {
 protected:
  EngineHarness h;

  // The idle state every failure returns to.
  void ExpectIdle() {
    EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);
    EXPECT_FALSE(h.host.timerRunning);
    EXPECT_EQ(h.host.statusControl, "");
    EXPECT_EQ(h.engine.link().deviceId(), "");
    EXPECT_FALSE(h.port.IsOpen());
  }
};

// "K_N0_N1_..." with this many names.
std::string NameList(std::size_t names) {
  std::string list = "K";
  for (std::size_t i = 0; i < names; ++i) {
    list += "_N" + std::to_string(i);
  }
  return list;
}

TEST_F(ServerPhases, ListChoiceAndPackageLeadIntoTheTransfer) {
  FindDisplay(h);
  h.http.Serve(kListUrl, "KEY_B\r\n_A_C");
  const std::string packageUrl = kListUrl + "&type=A";
  h.http.Serve(packageUrl, Package(kDeviceId, "KEY", "Title", "134140"));
  h.host.answerChoice = [](const std::vector<std::string>& names) {
    return ProgramChoice{true, std::find(names.begin(), names.end(), "A") - names.begin()};
  };

  h.Tick();
  EXPECT_EQ(h.host.log, (Log{"timer stop", kUnplugMsg, "choice", "timer start"}));
  EXPECT_EQ(h.host.choices.at(0), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(h.engine.listKey(), "KEY");
  EXPECT_EQ(h.engine.requestUrl(), packageUrl);
  EXPECT_EQ(h.host.statusControl, "Getting A...");
  EXPECT_EQ(h.engine.phase(), PHASE_PACKAGE);

  h.host.log.clear();
  h.Tick();
  EXPECT_EQ(h.host.log, (Log{"timer stop", "title Title", "pictures 134 140",
                             std::string("message 升级|") + messages::kPlugIn, "timer start"}));
  EXPECT_EQ(h.host.statusControl, messages::kStopMidwayHint);
  EXPECT_EQ(h.engine.phase(), PHASE_TRANSFER);
  EXPECT_EQ(h.engine.link().stage(), Stage::kIdentify);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  EXPECT_EQ(h.http.requests, (std::vector<std::string>{kListUrl, packageUrl}));
}

TEST_F(ServerPhases, StatusShowsTheListRequestBeforeTheUnplugMessage) {
  FindDisplay(h);
  std::string statusAtMessage;
  h.host.onMessage = [&] {
    if (statusAtMessage.empty()) {
      statusAtMessage = h.host.statusControl;
    }
  };
  h.Tick();
  EXPECT_EQ(statusAtMessage, "Getting list... " + kDeviceLabel);
}

TEST_F(ServerPhases, ListFailuresShowTheirMessagesInOrderAndReturnToIdle) {
  struct Case {
    const char* what;
    HttpResponse response;
    Log messages;
    RunEnd end = RunEnd::kListRefused;
  };
  const std::vector<Case> cases = {
      {"unreachable server",
       {HttpResponse::Outcome::kInternetError, {}, "refused"},
       {kProgramErrorMsg, kFailMsg, kNoListMsg},
       RunEnd::kListServerError},
      {"nothing opened",
       {HttpResponse::Outcome::kNotOpened, {}, {}},
       {kFailMsg, kNoListMsg},
       RunEnd::kListServerError},
      {"no separator", {HttpResponse::Outcome::kBody, "<html>404</html>", {}}, {kNoListMsg}},
      {"only a GBK trail 0x5F",
       {HttpResponse::Outcome::kBody,
        "K\x81\x5F"
        "A",
        {}},
       {kNoListMsg}},
      {"empty key", {HttpResponse::Outcome::kBody, "_A_B", {}}, {kNoListMsg}},
      {"key over 32 bytes",
       {HttpResponse::Outcome::kBody, std::string(33, 'k') + "_A", {}},
       {kNoListMsg}},
      {"one byte over the list's limit",
       {HttpResponse::Outcome::kBody, "K_" + std::string(LIST_TEXT_MAX - 1, 'A'), {}},
       {kNoListMsg}},
      {"one name too many",
       {HttpResponse::Outcome::kBody, NameList(LIST_NAMES_MAX + 1), {}},
       {kNoListMsg}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EngineHarness fresh;
    FindDisplay(fresh);
    fresh.http.responses[kListUrl] = c.response;
    fresh.Tick();
    Log shown = c.messages;  // after the unplug message, none with the timer running
    shown.insert(shown.begin(), kUnplugMsg);
    EXPECT_EQ(fresh.host.Logged("message"), shown);
    EXPECT_TRUE(fresh.host.choices.empty());
    EXPECT_EQ(fresh.engine.listKey(), "");
    EXPECT_EQ(fresh.engine.phase(), PHASE_SEARCH);
    EXPECT_FALSE(fresh.host.timerRunning);
    EXPECT_EQ(fresh.host.statusControl, "");
    EXPECT_EQ(fresh.engine.endReason(), c.end);
  }
}

TEST_F(ServerPhases, ListsAtTheirLimitsAreOffered) {
  for (const std::string& list :
       {"K_" + std::string(LIST_TEXT_MAX - 2, 'A'), NameList(LIST_NAMES_MAX)}) {
    EngineHarness fresh;
    FindDisplay(fresh);
    fresh.http.responses[kListUrl] = {HttpResponse::Outcome::kBody, list, {}};
    fresh.Tick();
    ASSERT_EQ(fresh.host.choices.size(), 1u);
    EXPECT_EQ(fresh.host.choices[0].size(), SplitProgramNames(list).size());
    EXPECT_EQ(fresh.engine.listKey(), "K");
  }
}

TEST_F(ServerPhases, CancelledChoiceEndsSilentlyButKeepsTheKey) {
  FindDisplay(h);
  h.http.Serve(kListUrl, "K9_A");
  h.host.answerChoice = [](const std::vector<std::string>&) { return ProgramChoice{}; };
  h.Tick();
  EXPECT_EQ(h.host.messages,
            (std::vector<std::string>{std::string("No error|") + messages::kUnplug}));
  EXPECT_EQ(h.engine.listKey(), "K9");
  ExpectIdle();
  EXPECT_EQ(h.engine.endReason(), RunEnd::kNoProgramChosen);
  EXPECT_EQ(h.engine.requestUrl(), kListUrl);
}

TEST_F(ServerPhases, NamesAreDecodedForTheUserAndSentBackAsTheirExactBytes) {
  FindDisplay(h);
  const std::string gbkName =
      "\xB3\x5F"
      "A b&#%+";  // a GBK character whose trail byte is "_"
  h.http.Serve(kListUrl, "K_" + gbkName + "_Z");
  h.Tick();
  EXPECT_EQ(h.host.choices.at(0), (std::vector<std::string>{"<B3>_A b&#%+", "Z"}));
  EXPECT_EQ(h.engine.requestUrl(), kListUrl + "&type=%B3_A%20b%26%23%25%2B");
  EXPECT_EQ(h.host.statusControl, "Getting <B3>_A b&#%+...");
}

TEST_F(ServerPhases, AcceptedChoiceWithoutSelectionAsksForAnEmptyType) {
  FindDisplay(h);
  h.http.Serve(kListUrl, "K_A");
  h.host.answerChoice = [](const std::vector<std::string>&) { return ProgramChoice{true, {}}; };
  h.Tick();
  EXPECT_EQ(h.engine.requestUrl(), kListUrl + "&type=");
  EXPECT_EQ(h.host.statusControl, "Getting ...");
}

TEST_F(ServerPhases, AddressBoxSelectsTheOverrideForm) {
  FindDisplay(h);
  h.host.addressControl = "10.1.2.3";
  h.Tick();
  EXPECT_EQ(h.http.requests.at(0), "http://10.1.2.3:82/getnameplovix.asp?id=" + kDeviceId);
  EXPECT_EQ(h.host.addressControl, "10.1.2.3");
}

TEST_F(ServerPhases, PackageRefusals) {
  const std::string complete = Package(kDeviceId, "KEY");
  struct Case {
    const char* what;
    HttpResponse response;
    Log messages;
    RunEnd end = RunEnd::kPackageRefused;
  };
  const std::vector<Case> cases = {
      {"29999 bytes",
       {HttpResponse::Outcome::kBody, complete.substr(0, 29999), {}},
       {kNoPackageMsg}},
      {"30000 bytes, payload incomplete",
       {HttpResponse::Outcome::kBody, complete.substr(0, 30000), {}},
       {kNoPackageMsg}},
      {"one digit short",
       {HttpResponse::Outcome::kBody, complete.substr(0, complete.size() - 1), {}},
       {kNoPackageMsg}},
      {"connection dropped mid-body",
       {HttpResponse::Outcome::kInternetError, {}, "partial"},
       {kProgramErrorMsg, kFailMsg, kNoPackageMsg},
       RunEnd::kPackageServerError},
      {"error page", {HttpResponse::Outcome::kBody, "<html>500</html>", {}}, {kNoPackageMsg}},
      {"a payload digit that is no hex digit",
       {HttpResponse::Outcome::kBody, complete.substr(0, 40000) + "x" + complete.substr(40001), {}},
       {kNoPackageMsg}},
      {"no separator",
       {HttpResponse::Outcome::kBody, kDeviceId + complete.substr(complete.find('_') + 1), {}},
       {kNoPackageMsg}},
      {"identity and 80000 X",
       {HttpResponse::Outcome::kBody, kDeviceId + std::string(80000, 'X'), {}},
       {kNoPackageMsg}},
      {"another display's package",
       {HttpResponse::Outcome::kBody, Package("1027262514131212", "KEY"), {}},
       {},
       RunEnd::kPackageForOtherDisplay},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EngineHarness fresh;
    FindDisplay(fresh);
    fresh.http.Serve(kListUrl, "KEY_A");
    fresh.http.responses[kListUrl + "&type=A"] = c.response;
    fresh.Tick();
    ASSERT_EQ(fresh.engine.phase(), PHASE_PACKAGE);
    fresh.host.messages.clear();
    fresh.host.log.clear();
    fresh.Tick();
    EXPECT_EQ(fresh.host.Logged("message"), c.messages);
    EXPECT_EQ(fresh.engine.phase(), PHASE_SEARCH);
    EXPECT_FALSE(fresh.host.timerRunning);
    EXPECT_EQ(fresh.host.statusControl, "");
    EXPECT_EQ(fresh.host.title, "");
    EXPECT_EQ(fresh.engine.endReason(), c.end);
  }
}

TEST_F(ServerPhases, IdentityIsComparedCaseSensitively) {
  const std::string id = "AB27262514131211";
  FindDisplay(h, id);
  const std::string listUrl = "http://programs.test/cargetnameplovix.asp?id=" + id;
  h.http.Serve(listUrl, "KEY_A");
  h.http.Serve(listUrl + "&type=A", "ab" + Package(id, "KEY").substr(2));
  h.Tick(2);
  EXPECT_TRUE(h.host.messages.size() == 1) << "only the unplug message";
  ExpectIdle();
}

TEST_F(ServerPhases, PackageWithLineBreaksAndGbkTitleIsReadWithoutThem) {
  FindDisplay(h);
  const std::string package = Package(kDeviceId, "KEY", "\xB3\x5F\xC9\xFD", "141142");
  h.http.Serve(kListUrl, "KEY_A");
  h.http.Serve(kListUrl + "&type=A", sim::WithLineBreaks(package, 64));
  h.Tick(2);
  EXPECT_EQ(h.engine.phase(), PHASE_TRANSFER);
  EXPECT_EQ(h.host.title, "<B3>_<C9><FD>");
  EXPECT_EQ(h.engine.responseText(), package);
  EXPECT_NE(std::find(h.host.log.begin(), h.host.log.end(), "pictures 141 142"), h.host.log.end());
}

}  // namespace
}  // namespace brintel::testing
