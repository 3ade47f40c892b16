#pragma once

// Debian's chromium, headless, for the tests that look at a page: found on
// PATH (empty when it is not installed) and started with what it needs on a
// closed network.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace brintel::testing {

inline std::string ChromiumPath() {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / "chromium";
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  return "";
}

// The command line up to the page's own options; `profile` a new empty folder.
inline std::vector<std::string> ChromiumCommand(const std::string& chromium,
                                                const std::filesystem::path& profile) {
  return {chromium,
          "--headless",
          "--no-sandbox",
          "--disable-gpu",
          "--disable-quic",
          "--no-first-run",
          "--disable-background-networking",
          "--disable-component-update",
          "--disable-sync",
          "--user-data-dir=" + profile.string()};
}

}  // namespace brintel::testing
