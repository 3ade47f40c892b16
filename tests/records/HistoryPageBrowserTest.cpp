// brintel-cli history --html opened by a real headless browser (Debian's
// chromium): what it shows, and a screenshot to look at.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "records/UnitRecords.h"
#include "tests/records/RecordsTestSupport.h"
#include "tests/support/Chromium.h"
#include "tests/support/Subprocess.h"

namespace brintel::records {
namespace {

using brintel::testing::Subprocess;
using test::ScopedEnv;
using test::TempDir;
using test::UnitOn;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

TEST(HistoryPageBrowserTest, ChromiumShowsTheFiguresAndTheHostileTitleAsText) {
  const std::string chromium = brintel::testing::ChromiumPath();
  if (chromium.empty()) {
    GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
  }
  ScopedEnv zone{"TZ", "CST-8"};  // the children inherit it
  TempDir dir;
  const fs::path db = dir.path() / "history.sqlite3";
  {
    auto store = UnitRecords::Open(db.string());
    const char* hub = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0";
    std::vector<UnitRecord> units = {
        UnitOn(hub, "1027262514131201", "2026-12-09T01:05:00.000Z", 41, "completed"),
        UnitOn("/dev/ttyUSB1", "1027262514131202", "2026-12-09T01:20:00.000Z", 12, "port-lost"),
        UnitOn(hub, "1027262514131203", "2026-12-09T02:10:00.000Z", 39, "completed"),
        UnitOn("/dev/ttyUSB1", "1027262514131204", "2026-12-09T03:40:00.000Z", 50, "completed")};
    units[1].title = "<script>document.title='owned'</script>";
    for (UnitRecord& unit : units) {
      unit.program = "标准版";
      unit.id = store.Begin(unit);
      store.End(unit);
    }
  }
  const fs::path page = dir.path() / "page.html";
  Subprocess history({BRINTEL_CLI, "history", "--db", db.string(), "--html", page.string()});
  ASSERT_EQ(history.Wait(10s), 0) << history.err();

  const std::string url = "file://" + page.string();

  std::vector<std::string> dump =
      brintel::testing::ChromiumCommand(chromium, dir.path() / "profile-dom");
  dump.insert(dump.end(), {"--dump-dom", url});
  Subprocess dom(dump);
  ASSERT_EQ(dom.Wait(30s), 0) << dom.err();
  const std::string& text = dom.out();
  EXPECT_THAT(text, HasSubstr("<div>units<b>4</b></div>"));
  EXPECT_THAT(text, HasSubstr("<div>completed<b>3</b></div>"));
  EXPECT_THAT(text, HasSubstr("<div>failed<b>1</b></div>"));
  EXPECT_THAT(text, HasSubstr("failure rate (units not completed)<b>25.0%</b>"));
  EXPECT_THAT(text, HasSubstr("average completed unit<b>43.3 s</b>"));
  EXPECT_THAT(text, HasSubstr("2026-12-09 09:05:00 +08:00 \u2013 2026-12-09 11:40:50 +08:00"));
  // The display whose last unit was lost, in the attention list.
  const auto attention = text.find("<table id=\"attention\">");
  ASSERT_NE(attention, std::string::npos) << text;
  EXPECT_EQ(text.find("<td>1027262514131202</td>", attention),
            text.find("<td>1027262514131202</td>"));
  EXPECT_LT(text.find("<td>1027262514131202</td>", attention), text.find("<table id=\"units\">"));
  // Text, never a script the browser ran: the page's title is its own.
  EXPECT_THAT(text, HasSubstr("<td>&lt;script&gt;document.title='owned'&lt;/script&gt;</td>"));
  EXPECT_THAT(text, Not(HasSubstr("<script")));
  EXPECT_THAT(text, HasSubstr("<title>Station history 2026-12-09"));
  EXPECT_THAT(text,
              HasSubstr("<title>12-09 09:00: 1 completed</title>"));  // a bar of the 09:00 hour

  const fs::path png = fs::path(HISTORY_PAGE_PNG);
  fs::remove(png);
  std::vector<std::string> shot =
      brintel::testing::ChromiumCommand(chromium, dir.path() / "profile-shot");
  shot.insert(shot.end(), {"--screenshot=" + png.string(), "--window-size=1200,1600", url});
  Subprocess screenshot(shot);
  ASSERT_EQ(screenshot.Wait(30s), 0) << screenshot.err();
  std::ifstream in(png, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(bytes.size(), 24u) << png;
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(bytes.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian(bytes, 16), 1200u);
  EXPECT_EQ(BigEndian(bytes, 20), 1600u);
}

}  // namespace
}  // namespace brintel::records
