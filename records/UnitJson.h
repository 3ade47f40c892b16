#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/UnitRecord.h"

namespace brintel::records {

// A unit under its column names, in their order: those of the unit, its
// counters, then the version, why a request failed and the station. The
// history's JSON and CSV and a station's unwritten records all take this shape.
nlohmann::ordered_json UnitJson(const UnitRecord& unit);

// One line of JSON; text that is not UTF-8 comes out replaced, not thrown.
std::string JsonLine(const nlohmann::ordered_json& value);

// The names a list offered as the records keep them: a JSON array, empty
// when nothing was offered; text edited by hand is read as one name.
std::string EncodeOffered(const std::vector<std::string>& offered);
std::vector<std::string> DecodeOffered(const std::string& text);

}  // namespace brintel::records
