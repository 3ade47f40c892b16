#pragma once

#include <nlohmann/json.hpp>

#include "records/UnitRecord.h"

namespace brintel::records {

// A unit under its column names, in their order: those of the unit, its
// counters, then the version and why a request failed. The history's JSON
// and CSV and a station's unwritten records all take this shape.
nlohmann::ordered_json UnitJson(const UnitRecord& unit);

// One line of JSON; text that is not UTF-8 comes out replaced, not thrown.
std::string JsonLine(const nlohmann::ordered_json& value);

}  // namespace brintel::records
