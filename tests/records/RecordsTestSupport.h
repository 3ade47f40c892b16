#pragma once

#include <filesystem>
#include <string>

#include "records/Sqlite.h"
#include "records/UnitRecord.h"
#include "tests/support/TempDir.h"

namespace brintel::records::test {

using brintel::testing::TempDir;

inline UnitRecord Unit(int channel, std::string deviceId, std::string startedAt) {
  UnitRecord unit;
  unit.channel = channel;
  unit.port = "/dev/ttyUSB" + std::to_string(channel - 1);
  unit.deviceId = std::move(deviceId);
  unit.startedAt = std::move(startedAt);
  return unit;
}

// The first column of the first row, read past the store.
inline std::string ReadText(const std::filesystem::path& file, const char* sql) {
  Database db(file.string(), SQLITE_OPEN_READWRITE);
  Statement statement(db, sql);
  return statement.Step() ? statement.Text(0) : "(no row)";
}

}  // namespace brintel::records::test
