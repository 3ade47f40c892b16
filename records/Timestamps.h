#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brintel::records {

// 2026-12-09T02:31:07.125Z: sorts as text in time order.
std::string FormatUtc(std::chrono::system_clock::time_point time);
std::string UtcNow();

// Reads what FormatUtc writes, with or without the milliseconds.
std::optional<std::chrono::system_clock::time_point> ParseUtc(std::string_view text);

// A --since value (2026-12-09, 2026-12-09T02:31, 2026-12-09T02:31:07, each
// with an optional Z; a space may stand for the T) as the prefix that every
// later started_at sorts at or after; nullopt when it is no such date.
std::optional<std::string> SinceBound(std::string_view text);

}  // namespace brintel::records
