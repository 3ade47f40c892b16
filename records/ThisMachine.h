#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// What the records ask of the system they run on.
namespace brintel::records {

// This machine's name; empty when the system does not say.
std::string HostName();
std::int64_t ProcessId();
// Whether process `pid` of this machine is there, whoever runs it.
bool ProcessAlive(std::int64_t pid);
// Where a user's programs keep their data: $XDG_DATA_HOME or ~/.local/share on
// Linux, %LOCALAPPDATA% on Windows. Throws RecordsError when the system does not say.
std::filesystem::path UserDataFolder();

// Calendar parts of `t` in UTC or in local time; false when the system
// cannot say. And back from UTC parts (timegm), which may be normalised.
bool UtcParts(std::time_t t, std::tm& parts);
bool LocalParts(std::time_t t, std::tm& parts);
std::time_t FromUtcParts(std::tm& parts);
// Takes the time zone (TZ) as it is now, for local times.
void ReadTimeZone();

// Paths as UTF-8, which SQLite takes on every system and our output is in.
std::string Utf8(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& text);

}  // namespace brintel::records
