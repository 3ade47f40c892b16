#include "sim/server/Catalogue.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "server/Separator.h"

namespace brintel::sim {
namespace {

// True when the text's last byte is a GBK lead byte without its trail: such a
// name or title would swallow the "_" that follows it on the wire.
bool EndsInsideCharacter(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    i += IsGbkLeadByte(static_cast<unsigned char>(text[i])) ? 2U : 1U;
  }
  return i > text.size();
}

void CheckProgram(const Program& program) {
  const std::string label = "program \"" + program.name + "\": ";
  if (program.name.empty() || FindSeparator(program.name) != std::string_view::npos ||
      EndsInsideCharacter(program.name)) {
    throw std::invalid_argument(label + "the name must be non-empty GBK text without \"_\"");
  }
  if (FindSeparator(program.title) != std::string_view::npos ||
      EndsInsideCharacter(program.title)) {
    throw std::invalid_argument(label + "the title must be GBK text without \"_\"");
  }
  const bool digits = std::all_of(program.pictures.begin(), program.pictures.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
  if (program.pictures.size() != 6 || !digits) {
    throw std::invalid_argument(label + "pictures must be 6 decimal digits");
  }
  if (program.data.size() != PROGRAM_SIZE) {
    throw std::invalid_argument(label + "data must hold " + std::to_string(PROGRAM_SIZE) +
                                " bytes");
  }
}

// splitmix64: the same bytes on every platform and every run, which the
// standard distributions do not promise.
std::vector<std::uint8_t> PseudoRandomData(std::uint64_t seed) {
  std::vector<std::uint8_t> data(PROGRAM_SIZE);
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < data.size(); i += 8) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    for (std::size_t b = 0; b < 8 && i + b < data.size(); ++b) {
      data[i + b] = static_cast<std::uint8_t>(z >> (8 * b));
    }
  }
  return data;
}

}  // namespace

bool IsDeviceId(std::string_view text) {
  return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
         });
}

Catalogue::Catalogue(std::vector<Program> programs) : programs_(std::move(programs)) {
  for (std::size_t i = 0; i < programs_.size(); ++i) {
    CheckProgram(programs_[i]);
    for (std::size_t j = 0; j < i; ++j) {
      if (programs_[j].name == programs_[i].name) {
        throw std::invalid_argument("program \"" + programs_[i].name + "\" is listed twice");
      }
    }
  }
}

Catalogue Catalogue::Default() {
  std::vector<Program> programs;
  programs.push_back({"Standard", "Standard display", "139140", PseudoRandomData(1), ""});
  programs.push_back({"City & Highway", "Urban and highway", "141142", PseudoRandomData(2), ""});
  // "+" must come back as "+", never as a blank.
  programs.push_back({"Eco+", "Eco+ economy", "143144", PseudoRandomData(3), "END"});
  // 标准版 (standard edition), title 标准显示 (standard display).
  programs.push_back({"\xB1\xEA\xD7\xBC\xB0\xE6", "\xB1\xEA\xD7\xBC\xCF\xD4\xCA\xBE", "134135",
                      PseudoRandomData(4), ""});
  // 直達 (non-stop): 達 is DF 5F, so the name ends in a 0x5F trail byte right
  // before the list's "_"; the title 直達模式 carries the same byte.
  programs.push_back(
      {"\xD6\xB1\xDF\x5F", "\xD6\xB1\xDF\x5F\xC4\xA3\xCA\xBD", "140139", PseudoRandomData(5), ""});
  return Catalogue(std::move(programs));
}

const Program* Catalogue::Find(std::string_view name) const {
  for (const Program& program : programs_) {
    if (program.name == name) {
      return &program;
    }
  }
  return nullptr;
}

std::vector<std::uint8_t> Catalogue::ExpectedProgram(std::string_view name) const {
  const Program* program = Find(name);
  return program ? program->data : std::vector<std::uint8_t>{};
}

std::string Catalogue::ListKeyFor(std::string_view deviceId) const {
  // FNV-1a over the id in upper case.
  std::uint32_t hash = 2166136261U;
  for (const char c : deviceId) {
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    hash ^= static_cast<unsigned char>(upper);
    hash *= 16777619U;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key = "K";
  for (int shift = 28; shift >= 0; shift -= 4) {
    key += kHex[(hash >> shift) & 0x0F];
  }
  return key;
}

std::string Catalogue::ListText(std::string_view listKey) const {
  std::string text(listKey);
  for (const Program& program : programs_) {
    text += SEPARATOR;
    text += program.name;
  }
  return text;
}

}  // namespace brintel::sim
