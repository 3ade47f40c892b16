// The whole engine, Start to the end of the run, against the simulated
// display's protocol and a scripted server, with the fuzzer choosing the
// display's faults, how its bytes arrive, noise on the line, failing writes
// and opens, and every server answer (a real catalogue list and package, or
// either spoiled, cut, made for another display, or any bytes at all).
//
// What must hold: the engine stays in its steps; completion is reported once,
// after the 70th block, and never for a package cut short or made for another
// display; and without noise on the line a completed run leaves the display
// holding all 70 blocks, exactly the server's program when the list and the
// package were the server's own.

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "engine/UpgradeEngine.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/server/Catalogue.h"
#include "sim/server/PackageBuilder.h"
#include "tests/support/Fakes.h"

namespace brintel::fuzz {
namespace {

using namespace std::chrono_literals;

constexpr int kMaxTicks = 6000;
constexpr auto kTick = 5ms;
// Held back no longer than this, a display byte is never late for the tool's
// shortest wait (19 ticks for the probe reply); later ones would be a display
// too slow to upgrade, not a fault of the tool.
constexpr auto kMaxHold = 8 * kTick;

const sim::Catalogue& Programs() {
  static const sim::Catalogue catalogue = sim::Catalogue::Default();
  return catalogue;
}

// Time moves on by one tick; `mode` says how much of what the display sent
// has crossed the line: all, none, half, or one byte.
void NextTick(testing::ScriptedPort& line, unsigned mode) {
  line.Advance(kTick);
  std::size_t count = line.held.size();
  if (mode == 1) {
    count = 0;
  } else if (mode == 2) {
    count = (count + 1) / 2;
  } else if (mode == 3) {
    count = std::min<std::size_t>(count, 1);
  }
  while (count < line.held.size() && line.now - line.held[count].sentAt >= kMaxHold) {
    ++count;
  }
  line.Release(count);
}

// The messages shown with this text, whatever their caption.
std::size_t Shown(const testing::FakeHost& host, std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(host.messages.begin(), host.messages.end(),
                    [text](const std::string& m) { return m.substr(m.find('|') + 1) == text; }));
}

std::string QueryValue(const std::string& url, const std::string& key) {
  const std::size_t at = url.find(key + "=");
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t begin = at + key.size() + 1;
  std::string value = url.substr(begin, url.find('&', begin) - begin);
  std::string decoded;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += value[i];
    }
  }
  return decoded;
}

// The server's answers, all chosen before the run starts.
class ScriptServer final : public HttpClient {
 public:
  enum class PackageForm { kGenuine, kLineBreaks, kSpoiled, kCut, kOtherDisplay, kAnyBytes };

  explicit ScriptServer(FuzzInput& in) {
    const std::uint8_t form = in.Byte();
    listOutcome_ = Outcome(form & 0x03);
    packageOutcome_ = Outcome((form >> 2) & 0x03);
    genuineList_ = (form & 0x10) == 0;
    if (genuineList_) {
      // Printable and without "_", so the tool reads the very key; now and then too long.
      const std::size_t length = 1 + in.Below(40);
      for (std::size_t i = 0; i < length; ++i) {
        const char c = static_cast<char>('!' + in.Byte() % 94);
        listKey_ += c == '_' ? '^' : c;
      }
      listText_ = Programs().ListText(listKey_);
    } else {
      listText_ = in.Text();
    }
    packageForm_ = static_cast<PackageForm>(in.Byte() % 6);
    spoilAt_ = in.Below(65536) * 2;
    spoilWith_ = static_cast<char>(in.Byte());
    anyBytes_ = packageForm_ == PackageForm::kAnyBytes ? in.Text() : std::string();
  }

  bool Genuine() const {
    return genuineList_ && listKey_.size() <= LIST_KEY_MAX &&
           listOutcome_ == HttpResponse::Outcome::kBody &&
           packageOutcome_ == HttpResponse::Outcome::kBody &&
           (packageForm_ == PackageForm::kGenuine || packageForm_ == PackageForm::kLineBreaks);
  }
  // Whether the tool may write anything at all with the package served.
  bool packageUsable() const { return packageUsable_; }
  const sim::Program* program() const { return program_; }

  HttpResponse Get(const std::string& url) override {
    const std::string id = QueryValue(url, "id");
    if (url.find("&type=") == std::string::npos) {
      return {listOutcome_, listText_, {}};
    }
    program_ = Programs().Find(QueryValue(url, "type"));
    if (!program_ || !genuineList_) {
      packageUsable_ = false;
      return {packageOutcome_, "<html>no such program</html>", {}};
    }
    std::string otherId = id;
    otherId[0] = otherId[0] == '0' ? '1' : '0';
    std::string text = sim::BuildPackage(packageForm_ == PackageForm::kOtherDisplay ? otherId : id,
                                         listKey_, *program_);
    packageUsable_ = packageForm_ != PackageForm::kOtherDisplay;
    switch (packageForm_) {
      case PackageForm::kLineBreaks:
        text = sim::WithLineBreaks(text, 1 + spoilAt_ % 100);
        break;
      case PackageForm::kSpoiled: {
        // A payload digit spoiled into anything but a hex digit must keep the
        // package out of the display.
        const std::size_t at = spoilAt_ % text.size();
        const std::size_t payload = PACKAGE_ID_SIZE + program_->title.size() + 7;
        text[at] = spoilWith_;
        if (at >= payload && at < payload + static_cast<std::size_t>(PAYLOAD_DIGITS) &&
            std::isxdigit(static_cast<unsigned char>(spoilWith_)) == 0) {
          packageUsable_ = false;
        }
        break;
      }
      case PackageForm::kCut: {
        const std::size_t complete =
            PACKAGE_ID_SIZE + program_->title.size() + 7 + static_cast<std::size_t>(PAYLOAD_DIGITS);
        text.resize(spoilAt_ % text.size());
        packageUsable_ = text.size() >= complete;
        break;
      }
      case PackageForm::kAnyBytes:
        text = anyBytes_;
        packageUsable_ = false;  // too short to be a package
        break;
      default:
        break;
    }
    packageUsable_ = packageUsable_ && packageOutcome_ == HttpResponse::Outcome::kBody;
    return {packageOutcome_, text, {}};
  }

 private:
  static HttpResponse::Outcome Outcome(unsigned bits) {
    return bits == 1   ? HttpResponse::Outcome::kInternetError
           : bits == 2 ? HttpResponse::Outcome::kNotOpened
                       : HttpResponse::Outcome::kBody;
  }

  HttpResponse::Outcome listOutcome_;
  HttpResponse::Outcome packageOutcome_;
  bool genuineList_ = true;
  std::string listKey_;
  std::string listText_;
  PackageForm packageForm_ = PackageForm::kGenuine;
  std::size_t spoilAt_ = 0;
  char spoilWith_ = 0;
  std::string anyBytes_;
  const sim::Program* program_ = nullptr;
  bool packageUsable_ = false;
};

sim::DisplayProtocol::Settings DisplaySettings(FuzzInput& in) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string identity;
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t byte = in.Byte();
    identity += kHex[byte >> 4];
    identity += kHex[byte & 0x0F];
  }
  sim::DisplayProtocol::Settings settings;
  settings.frame = *sim::BuildIdentityFrame(identity);
  const int faults = in.Byte() % 4;
  for (int i = 0; i < faults; ++i) {
    sim::Fault fault;
    fault.kind = static_cast<sim::FaultKind>(in.Byte() % 8);  // all but unplugging
    fault.remaining = 1 + in.Byte() % 3;
    fault.block = in.Byte() % BLOCK_COUNT;
    fault.amount = static_cast<int>(in.Below(BLOCK_SIZE));
    if (fault.kind == sim::FaultKind::kStrayBeforeAck) {
      fault.amount = 1 + fault.amount % 4;
    }
    if (fault.kind != sim::FaultKind::kIgnoreProbe && fault.kind != sim::FaultKind::kWrongReply &&
        fault.kind != sim::FaultKind::kShortFrame && fault.kind != sim::FaultKind::kInvalidFrame) {
      fault.remaining = 1;
    }
    settings.faults.push_back(fault);
  }
  return settings;
}

}  // namespace
}  // namespace brintel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brintel;
  using namespace brintel::fuzz;
  FuzzInput in(data, size);

  sim::DisplayProtocol display(DisplaySettings(in));
  const std::uint8_t ports = in.Byte();
  testing::ScriptedPort line;  // the display on one port, the others silent
  for (int i = 0; i <= ports % 3; ++i) {
    line.ports.push_back("/dev/ttyFUZZ" + std::to_string(i));
  }
  line.Attach(line.ports[(ports >> 2) % line.ports.size()], display);
  line.holding = true;
  ScriptServer server(in);
  testing::FakeHost host;
  // The user takes the fuzzer's entry of every list, and OK for every message.
  host.answerChoice = [choice = in.Byte()](const std::vector<std::string>& names) {
    const std::size_t entry = choice % (names.size() + 1);
    return ProgramChoice{true, entry == names.size() ? std::nullopt : std::optional(entry)};
  };
  const testing::FakeGbkDecoder gbk;
  UpgradeEngine engine(
      host, line, server, gbk, [](int) {}, UpgradeEngine::Config{.defaultServer = "programs.test"});

  bool noisy = false;
  engine.OnStart();
  for (int tick = 0; tick < kMaxTicks && host.timerRunning; ++tick) {
    const std::uint8_t op = in.Byte();
    NextTick(line, op & 0x03);
    if ((op & 0x04) != 0) {
      const std::string noise = in.Bytes(1 + in.Byte() % 8);
      line.input.insert(line.input.end(), noise.begin(), noise.end());
      noisy = true;
    }
    if ((op & 0x08) != 0 && !line.input.empty()) {
      line.input.clear();
      noisy = true;
    }
    line.writesFail = (op & 0x30) == 0x30;
    line.openFails = (op & 0xC0) == 0xC0;

    engine.tick();
    const DeviceLink& link = engine.link();
    FUZZ_CHECK(link.frameBytesLeft() <= IDENTITY_FRAME_SIZE);
    FUZZ_CHECK(link.blockIndex() < BLOCK_COUNT);  // 70 ends the transfer at once
    if (engine.phase() != PHASE_TRANSFER) {
      FUZZ_CHECK(link.step() <= 40);
    }
    FUZZ_CHECK(engine.completed() == (Shown(host, messages::kCompleted) == 1));
  }

  FUZZ_CHECK(Shown(host, messages::kCompleted) <= 1);
  int progress = 0;  // the bar moves one block at a time
  for (const std::string& entry : host.Logged("progress ")) {
    FUZZ_CHECK(entry == "progress " + std::to_string(++progress) && progress <= BLOCK_COUNT);
  }
  if (!server.packageUsable()) {
    FUZZ_CHECK(Shown(host, messages::kPlugIn) == 0 && display.Counters().blocksReceived == 0);
  }
  if (engine.completed()) {
    FUZZ_CHECK(progress == BLOCK_COUNT);
    if (!noisy) {
      FUZZ_CHECK(display.Complete());
      if (server.Genuine()) {
        FUZZ_CHECK(display.Program() == server.program()->data);
      }
    }
  }
  return 0;
}
