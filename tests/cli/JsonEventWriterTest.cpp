// The JSON stream of --json, a line an event: every field under its name with
// the value it must hold, whatever bytes the texts carry.

#include "cli/json/JsonEventWriter.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

namespace brintel::cli {
namespace {

using nlohmann::json;
using run::RunEvent;
using namespace std::chrono;

// The event written alone, read back.
json Written(const RunEvent& event) {
  std::ostringstream out;
  JsonEventWriter writer(out);
  writer(event);
  const std::string text = out.str();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  return json::parse(text);
}

RunEvent Event(RunEvent::Kind kind) {
  RunEvent event = RunEvent::Of(kind);
  event.channel = 3;
  event.at = sys_days{2026y / 12 / 9} + 2h + 31min + 7s + 125ms;
  return event;
}

json Head(const char* name) {
  return {{"channel", 3}, {"time", "2026-12-09T02:31:07.125Z"}, {"event", name}};
}

TEST(JsonEventWriterTest, AUnitsEndCarriesEveryFieldAndResendsAreTheFourCausesSummed) {
  RunEvent ended = Event(RunEvent::Kind::kUnitEnded);
  ended.port = "/dev/ttyUSB0";
  ended.deviceId = "1027262514131211";
  ended.transferDeviceId = "10272625141312AA";
  ended.program = "标准版";
  ended.title = "T";
  ended.listUrl = "http://h/cargetnameplovix.asp?id=1027262514131211";
  ended.outcome = run::UnitOutcome::kOtherDisplay;
  ended.offered = {"甲", "乙"};
  ended.counts = {70, 1, 2, 4, 8, 16, 32, 64};
  ended.detail = "why";
  ended.url = "http://h/x";
  ended.seconds = 41.5;
  json expected = Head("unit-ended");
  expected.update({{"port", "/dev/ttyUSB0"},
                   {"device_id", "1027262514131211"},
                   {"transfer_device_id", "10272625141312AA"},
                   {"program", "标准版"},
                   {"title", "T"},
                   {"list_url", "http://h/cargetnameplovix.asp?id=1027262514131211"},
                   {"outcome", "other-display"},
                   {"offered", {"甲", "乙"}},
                   {"blocks", 70},
                   {"resends", 15},
                   {"retry_acknowledgements", 1},
                   {"wrong_echoes", 2},
                   {"echo_silences", 4},
                   {"acknowledgement_silences", 8},
                   {"identification_failures", 16},
                   {"ports_lost", 32},
                   {"other_displays", 64},
                   {"detail", "why"},
                   {"failed_url", "http://h/x"},
                   {"seconds", 41.5}});
  EXPECT_EQ(Written(ended), expected);

  RunEvent started = Event(RunEvent::Kind::kUnitStarted);
  started.port = "/dev/ttyUSB0";
  started.deviceId = "1027262514131211";
  expected = Head("unit-started");
  expected.update({{"port", "/dev/ttyUSB0"}, {"device_id", "1027262514131211"}});
  EXPECT_EQ(Written(started), expected);

  RunEvent progress = Event(RunEvent::Kind::kProgress);
  progress.blocks = 12;
  expected = Head("progress");
  expected.update({{"blocks", 12}, {"of", 70}});
  EXPECT_EQ(Written(progress), expected);
}

// A program name the user typed goes into a note as given; bytes that are no
// UTF-8 come out replaced, the line still JSON.
TEST(JsonEventWriterTest, TextThatIsNoUtf8IsReplacedNotThrownOn) {
  RunEvent note = Event(RunEvent::Kind::kNote);
  note.text = "holds no \"\xFF\xC3\"";
  json expected = Head("note");
  expected["text"] = "holds no \"\xEF\xBF\xBD\xEF\xBF\xBD\"";
  EXPECT_EQ(Written(note), expected);
}

}  // namespace
}  // namespace brintel::cli
