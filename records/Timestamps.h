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

// A --since value (as SinceBound takes it) as the moment it names: in local
// time (the TZ environment variable decides; a date is its local midnight)
// unless it ends in Z. nullopt when it is no such date.
std::optional<std::chrono::system_clock::time_point> SinceTime(std::string_view text);

// 2026-12-09 10:31:07 +08:00: local time to the second with its offset from
// UTC, which may differ from one time to the next (summer time).
std::string FormatLocal(std::chrono::system_clock::time_point time);

}  // namespace brintel::records
