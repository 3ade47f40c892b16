#include "records/ThisMachine.h"

#include <windows.h>

#include <time.h>

#include <array>

#include "records/Sqlite.h"
#include "server/win32/CodePageConversion.h"

namespace brintel::records {

std::string HostName() {
  std::array<wchar_t, MAX_COMPUTERNAME_LENGTH + 1> name{};
  DWORD size = static_cast<DWORD>(name.size());
  if (::GetComputerNameW(name.data(), &size) == FALSE) {
    return {};
  }
  return CodePageFromWide(CP_UTF8, std::wstring_view(name.data(), size));
}

std::int64_t ProcessId() {
  return ::GetCurrentProcessId();
}

// A process that has ended but whose handle someone still holds can be
// opened: only STILL_ACTIVE counts. ERROR_ACCESS_DENIED: it is there, under
// another user.
bool ProcessAlive(std::int64_t pid) {
  if (pid <= 0 || pid > static_cast<std::int64_t>(MAXDWORD)) {
    return false;
  }
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    return ::GetLastError() == ERROR_ACCESS_DENIED;
  }
  DWORD status = 0;
  const bool running = ::GetExitCodeProcess(process, &status) != FALSE && status == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

std::filesystem::path UserDataFolder() {
  if (const wchar_t* folder = ::_wgetenv(L"LOCALAPPDATA"); folder != nullptr && *folder != L'\0') {
    return folder;
  }
  throw RecordsError("LOCALAPPDATA is not set: give the records' file");
}

bool UtcParts(std::time_t t, std::tm& parts) {
  return ::gmtime_s(&parts, &t) == 0;
}

bool LocalParts(std::time_t t, std::tm& parts) {
  return ::localtime_s(&parts, &t) == 0;
}

std::time_t FromUtcParts(std::tm& parts) {
  return ::_mkgmtime(&parts);
}

void ReadTimeZone() {
  ::_tzset();
}

std::string Utf8(const std::filesystem::path& path) {
  return CodePageFromWide(CP_UTF8, path.native());
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  return WideFromCodePage(CP_UTF8, text);
}

}  // namespace brintel::records
