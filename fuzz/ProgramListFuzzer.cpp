// A program list as the server may send it, any bytes at all: the key and the
// names put back together give the text again, no name holds a separator, and
// the choice order is a sorted permutation of the names.

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "server/ProgramList.h"
#include "server/Separator.h"

namespace {

unsigned char Fold(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte | 0x20) : byte;
}

// -1, 0, 1 as the folded texts compare, then the raw bytes.
int CompareShown(const std::string& a, const std::string& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) {
      return Fold(a[i]) < Fold(b[i]) ? -1 : 1;
    }
  }
  if (a.size() != b.size()) {
    return a.size() < b.size() ? -1 : 1;
  }
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brintel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::optional<std::string> key = ListKey(text);
  const std::vector<std::string> names = SplitProgramNames(text);
  const std::size_t first = FindSeparator(text);
  FUZZ_CHECK(first == std::string_view::npos || text[first] == SEPARATOR);
  FUZZ_CHECK(key.has_value() == (first != std::string_view::npos));
  FUZZ_CHECK(!key || !names.empty());
  FUZZ_CHECK(key || names.empty());

  if (key) {
    FUZZ_CHECK(IsUsableListKey(*key) == (!key->empty() && key->size() <= LIST_KEY_MAX));
    FUZZ_CHECK(FindSeparator(*key) == std::string_view::npos);
    std::string joined = *key;
    for (const std::string& name : names) {
      joined += SEPARATOR;
      joined += name;
      FUZZ_CHECK(FindSeparator(name) == std::string_view::npos);
    }
    FUZZ_CHECK(joined == text);
  }

  const std::vector<std::size_t> order = SortedChoiceOrder(names);
  FUZZ_CHECK(order.size() == names.size());
  std::vector<std::size_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::size_t> all(names.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  FUZZ_CHECK(sorted == all);
  for (std::size_t i = 1; i < order.size(); ++i) {
    const int c = CompareShown(names[order[i - 1]], names[order[i]]);
    FUZZ_CHECK(c < 0 || (c == 0 && order[i - 1] < order[i]));  // equal names keep their order
  }
  return 0;
}
