#include "records/ThisMachine.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "records/Sqlite.h"

namespace brintel::records {

std::string HostName() {
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) != 0) {
    host[0] = '\0';
  }
  return host.data();
}

std::int64_t ProcessId() {
  return ::getpid();
}

// kill with signal 0 asks only whether the process is there; EPERM: it is,
// under another user.
bool ProcessAlive(std::int64_t pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::filesystem::path UserDataFolder() {
  // A relative XDG_DATA_HOME is to be ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME");
      data != nullptr && std::filesystem::path(data).is_absolute()) {
    return data;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::filesystem::path(home) / ".local" / "share";
  }
  throw RecordsError("neither XDG_DATA_HOME nor HOME is set: give the records' file");
}

bool UtcParts(std::time_t t, std::tm& parts) {
  return ::gmtime_r(&t, &parts) != nullptr;
}

bool LocalParts(std::time_t t, std::tm& parts) {
  return ::localtime_r(&t, &parts) != nullptr;
}

std::time_t FromUtcParts(std::tm& parts) {
  return ::timegm(&parts);
}

void ReadTimeZone() {
  ::tzset();
}

std::string Utf8(const std::filesystem::path& path) {
  return path.string();
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  return text;
}

}  // namespace brintel::records
