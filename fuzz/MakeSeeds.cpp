// Writes the meaningful starting inputs of every fuzz target into
// <corpus>/<target>/seed-*: the worked examples of the formats, real lists and
// packages of the simulated server's catalogue, and engine scripts for clean
// and faulty runs. The same files every time, so rerunning changes nothing.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace std::string_literals;

#include "device/SendBlock.h"
#include "server/ProgramList.h"
#include "sim/display/DisplayFault.h"
#include "sim/server/Catalogue.h"
#include "sim/server/PackageBuilder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

const std::string kDeviceId = "1027262514131211";
// 0x9C, then the identity frame in arrival order: the id above.
const Bytes kReply = "\x9C\x01\x02\x03\x00\x4E\x02\x04\x05\x06\x07\xF0"s;

fs::path corpus;
std::size_t written = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = corpus / target;
  fs::create_directories(dir);
  std::ofstream(dir / ("seed-" + name), std::ios::binary) << bytes;
  ++written;
}

Bytes Byte(int value) {
  return Bytes(1, static_cast<char>(value));
}

// One identity-frame tick that delivers `raw` (at most 15 bytes).
Bytes RawTick(const Bytes& raw) {
  return Byte(static_cast<int>(raw.size())) + raw;
}

void IdentitySeeds() {
  const Bytes searchOnePort = Byte(2);
  const Bytes quiet = Byte(0);
  Write("identity_frame", "worked-example", searchOnePort + quiet + RawTick(kReply) + quiet);
  Write("identity_frame", "split-frame",
        searchOnePort + quiet + RawTick(kReply.substr(0, 4)) + RawTick(kReply.substr(4, 5)) +
            quiet + RawTick(kReply.substr(9)) + quiet);
  Write("identity_frame", "wrapping-digits",
        searchOnePort + quiet + RawTick("\x9C\xF5\xF5\xF5\x00\x4E\x02\xF5\xE0\xE0\xE0\xE0"s));
  Write("identity_frame", "short-frame", searchOnePort + quiet + RawTick(kReply.substr(0, 8)));
  Write("identity_frame", "invalid-frame",
        searchOnePort + quiet + RawTick("\x9C\x01\x02\x03\x00\x4F\x02\x04\x05\x06\x07\xF0"s));
  Write("identity_frame", "fourteen-bytes",
        searchOnePort + quiet + RawTick(kReply + "\x11\x22\x33"));
  Write("identity_frame", "wrong-reply", Byte(6) + quiet + RawTick("\x9D") + quiet + quiet);

  // The transfer: a probe answered, the block sent, its echo, an acknowledgement.
  const Bytes echo = Byte(0x20);
  const Bytes spoiledEcho = Byte(0x30) + Byte(200);
  Bytes transfer = Byte(3);
  for (int block = 0; block < 3; ++block) {
    transfer += quiet + RawTick(kReply) + quiet + echo + RawTick("\xA6");
  }
  Write("identity_frame", "transfer-three-blocks", transfer);
  Write("identity_frame", "transfer-retry-and-wrong-echo",
        Byte(3) + quiet + RawTick(kReply) + quiet + echo + RawTick("\x55") + quiet +
            RawTick(kReply) + quiet + spoiledEcho + quiet + RawTick(kReply) + quiet + echo +
            RawTick("\x12\x00\xA6"));
  Write("identity_frame", "transfer-lost-port",
        Byte(3) + quiet + RawTick(kReply) + Byte(0x40) + quiet + quiet + RawTick(kReply));
}

void ListSeeds(const brintel::sim::Catalogue& catalogue) {
  const std::string key = catalogue.ListKeyFor(kDeviceId);
  Write("program_list", "catalogue", catalogue.ListText(key));
  Write("program_list", "sorted", "K_B_A_C");
  Write("program_list", "one", "K_A");
  Write("program_list", "empty-name", "K_");
  Write("program_list", "trailing-separator", "K_A_B_");
  Write("program_list", "two-separators", "K_A__B");
  Write("program_list", "no-separator", "NOPROGRAMS");
  Write("program_list", "empty-key", "_A_B");
  Write("program_list", "long-key", std::string(33, '7') + "_A");
  Write("program_list", "trail-byte-only", "\xD6\xB1\xDF\x5F");
  Write("program_list", "lead-byte-at-end", "K_A\x81");
  Write("program_list", "case", "K_b_B_a_A_[_");
}

void PercentSeeds(const brintel::sim::Catalogue& catalogue) {
  for (std::size_t i = 0; i < catalogue.Programs().size(); ++i) {
    Write("percent_encode", "name-" + std::to_string(i), catalogue.Programs()[i].name);
  }
  Bytes all;
  for (int byte = 0; byte < 256; ++byte) {
    all += Byte(byte);
  }
  Write("percent_encode", "every-byte", all);
}

// Any-text mode: key, device id and a probe position, then the text.
Bytes AnyPackage(const std::string& key, const std::string& text) {
  return Byte(0) + Byte(static_cast<int>(key.size()) - 1) + key + kDeviceId + "\x00\x13"s + text;
}

void PackageSeeds(const brintel::sim::Catalogue& catalogue) {
  const std::string key = catalogue.ListKeyFor(kDeviceId);
  for (const char* name : {"Standard", "\xD6\xB1\xDF\x5F"}) {
    const brintel::sim::Program* program = catalogue.Find(name);
    const std::string text = brintel::sim::BuildPackage(kDeviceId, key, *program);
    Write("package", std::string("catalogue-") + (name[0] == 'S' ? "standard" : "trail-byte"),
          AnyPackage(key, text));
  }
  Write("package", "title-of-three", AnyPackage("K", kDeviceId + "Abc_139140" + "5A0f7G"));
  Write("package", "no-separator", AnyPackage("K", kDeviceId + "0123456789"));
  Write("package", "picture-forms", AnyPackage("K", kDeviceId + "_07x -9"));
  Write("package", "gbk-title", AnyPackage("KEY", kDeviceId + "\xD6\xB1\xDF\x5F_134135AB"));
  // Built mode: key, id digits, title, pictures, trailer, data seed.
  Write("package", "built-short-key",
        Byte(1) + Byte(0) + "K" + std::string(16, '\x0A') + Byte(3) + "Abc" + "139140" + Byte(3) +
            "END" + "\x01\x02\x03");
  Write("package", "built-gbk-title",
        Byte(1) + Byte(31) + std::string(32, 'k') + kDeviceId + Byte(4) + "\xD6\xB1\xDF\x5F" +
            "134135" + Byte(0) + "\xFF");
}

// Engine script: display id and faults, ports, server answers, choice, ticks.
struct EngineRun {
  std::vector<Bytes> faults;  // kind, remaining, block, position (two bytes)
  int ports = 0;
  int serverForm = 0;
  int packageForm = 0;
  int spoil = 0;
  int choice = 0;
  Bytes ticks;

  Bytes Script() const {
    Bytes s = "\x10\x27\x26\x25\x14\x13\x12\x11"s + Byte(static_cast<int>(faults.size()));
    for (const Bytes& fault : faults) {
      s += fault;
    }
    s += Byte(ports) + Byte(serverForm);
    if ((serverForm & 0x10) == 0) {
      s += Byte(8) + "K1B2C3D4E";  // a nine-byte key
    } else {
      s += Byte(5) + "K_A_B";
    }
    s += Byte(packageForm) + Byte(spoil >> 8) + Byte(spoil & 0xFF) + Byte('G');
    if (packageForm == 5) {
      s += Byte(4) + "1027";
    }
    return s + Byte(choice) + ticks;
  }
};

Bytes Fault(brintel::sim::FaultKind kind, int remaining, int block, int position) {
  return Byte(static_cast<int>(kind)) + Byte(remaining) + Byte(block) + Byte(position >> 8) +
         Byte(position & 0xFF);
}

void EngineSeeds() {
  using brintel::sim::FaultKind;
  EngineRun clean;
  Write("engine", "clean", clean.Script());

  EngineRun faulty;
  faulty.faults = {Fault(FaultKind::kWrongEcho, 1, 3, 100), Fault(FaultKind::kNoAck, 1, 5, 0),
                   Fault(FaultKind::kIgnoreProbe, 2, 0, 0)};
  faulty.ports = 2 + (1 << 2);  // three ports, the display on the second
  faulty.choice = 3;
  Write("engine", "display-faults", faulty.Script());

  EngineRun more;
  more.faults = {Fault(FaultKind::kRetryBlock, 1, 0, 0), Fault(FaultKind::kStrayBeforeAck, 1, 1, 3),
                 Fault(FaultKind::kShortFrame, 1, 0, 0)};
  more.choice = 4;
  more.packageForm = 1;  // line breaks
  more.spoil = 63;
  Write("engine", "retry-stray-line-breaks", more.Script());

  const struct {
    const char* name;
    int serverForm;
    int packageForm;
    int spoil;
  } answers[] = {{"list-internet-error", 1, 0, 0}, {"package-not-opened", 8, 0, 0},
                 {"package-spoiled", 0, 2, 30000}, {"package-cut", 0, 3, 36000},
                 {"other-display", 0, 4, 0},       {"package-any-bytes", 0, 5, 0},
                 {"any-list", 0x10, 0, 0}};
  for (const auto& answer : answers) {
    EngineRun run;
    run.serverForm = answer.serverForm;
    run.packageForm = answer.packageForm;
    run.spoil = answer.spoil;
    Write("engine", answer.name, run.Script());
  }

  // A line that holds bytes back, drops and adds some, and fails writes and opens.
  EngineRun line;
  line.choice = 5;  // no entry selected: the empty name
  Write("engine", "no-entry", line.Script());
  line.choice = 1;
  for (int i = 0; i < 40; ++i) {
    line.ticks += Byte(i % 4);
  }
  line.ticks += "\x30\x30\xC0\xC0\x00\x00\x04\x02\x9C\xA6\x00\x08\x00"s;
  Write("engine", "unsteady-line", line.Script());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  corpus = argv[1];
  const brintel::sim::Catalogue catalogue = brintel::sim::Catalogue::Default();
  IdentitySeeds();
  ListSeeds(catalogue);
  PercentSeeds(catalogue);
  PackageSeeds(catalogue);
  EngineSeeds();
  std::printf("%zu seeds in %s\n", written, corpus.c_str());
  return 0;
}
