#include "records/Timestamps.h"

#include <cstdio>
#include <ctime>

#include "records/ThisMachine.h"

namespace brintel::records {
namespace {

// The number of `width` digits at text[at], or nullopt.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) {
    return std::nullopt;
  }
  int value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool At(std::string_view text, std::size_t at, char c) {
  return at < text.size() && text[at] == c;
}

std::optional<std::chrono::sys_days> Date(std::string_view text) {
  const auto year = Digits(text, 0, 4);
  const auto month = Digits(text, 5, 2);
  const auto day = Digits(text, 8, 2);
  if (!year || !month || !day || !At(text, 4, '-') || !At(text, 7, '-')) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{*year},
                                         std::chrono::month{static_cast<unsigned>(*month)},
                                         std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) {
    return std::nullopt;
  }
  return std::chrono::sys_days{date};
}

// HH:MM at text[at]; the seconds after it when `seconds`.
std::optional<std::chrono::seconds> Clock(std::string_view text, std::size_t at, bool seconds) {
  const auto hours = Digits(text, at, 2);
  const auto minutes = Digits(text, at + 3, 2);
  const auto secs = seconds ? Digits(text, at + 6, 2) : std::optional<int>(0);
  if (!hours || !minutes || !secs || !At(text, at + 2, ':') ||
      (seconds && !At(text, at + 5, ':')) || *hours > 23 || *minutes > 59 || *secs > 59) {
    return std::nullopt;
  }
  return std::chrono::hours{*hours} + std::chrono::minutes{*minutes} + std::chrono::seconds{*secs};
}

}  // namespace

std::string FormatUtc(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time);
  const auto secs = std::chrono::floor<std::chrono::seconds>(ms);
  const std::time_t t = std::chrono::system_clock::to_time_t(secs);
  std::tm tm{};
  UtcParts(t, tm);
  char text[80];  // room for any int the compiler can imagine
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>((ms - secs).count()));
  return text;
}

std::string UtcNow() {
  return FormatUtc(std::chrono::system_clock::now());
}

std::optional<std::chrono::system_clock::time_point> ParseUtc(std::string_view text) {
  const auto date = Date(text);
  const auto clock = Clock(text, 11, true);
  if (!date || !clock || !At(text, 10, 'T')) {
    return std::nullopt;
  }
  std::chrono::milliseconds fraction{0};
  std::size_t end = 19;
  if (At(text, end, '.')) {
    const auto ms = Digits(text, 20, 3);
    if (!ms) {
      return std::nullopt;
    }
    fraction = std::chrono::milliseconds{*ms};
    end = 23;
  }
  if (text.size() != end + 1 || text[end] != 'Z') {
    return std::nullopt;
  }
  return std::chrono::system_clock::time_point{*date} + *clock + fraction;
}

std::optional<std::string> SinceBound(std::string_view text) {
  if (!text.empty() && text.back() == 'Z') {
    text.remove_suffix(1);
  }
  if (!Date(text)) {
    return std::nullopt;
  }
  if (text.size() == 10) {
    return std::string(text);
  }
  if (!At(text, 10, 'T') && !At(text, 10, ' ')) {
    return std::nullopt;
  }
  const bool seconds = text.size() == 19;
  if ((text.size() != 16 && !seconds) || !Clock(text, 11, seconds)) {
    return std::nullopt;
  }
  std::string bound(text);
  bound[10] = 'T';
  return bound;
}

std::optional<std::chrono::system_clock::time_point> SinceTime(std::string_view text) {
  const bool utc = !text.empty() && text.back() == 'Z';
  const auto bound = SinceBound(text);
  if (!bound) {
    return std::nullopt;
  }
  const auto date = Date(*bound);
  const auto clock =
      bound->size() == 10 ? std::chrono::seconds{0} : Clock(*bound, 11, bound->size() == 19);
  if (!date || !clock) {
    return std::nullopt;
  }
  if (utc) {
    return std::chrono::system_clock::time_point{*date} + *clock;
  }
  const std::chrono::year_month_day day{*date};
  const std::chrono::hh_mm_ss time{*clock};
  std::tm local{};
  local.tm_year = static_cast<int>(day.year()) - 1900;
  local.tm_mon = static_cast<int>(static_cast<unsigned>(day.month())) - 1;
  local.tm_mday = static_cast<int>(static_cast<unsigned>(day.day()));
  local.tm_hour = static_cast<int>(time.hours().count());
  local.tm_min = static_cast<int>(time.minutes().count());
  local.tm_sec = static_cast<int>(time.seconds().count());
  local.tm_isdst = -1;  // whichever holds on that day
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

std::string FormatLocal(std::chrono::system_clock::time_point time) {
  const std::time_t t =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
  std::tm local{};
  if (!LocalParts(t, local)) {
    return FormatUtc(time);
  }
  std::tm copy = local;  // timegm may normalise what it is given
  const long long offset = static_cast<long long>(FromUtcParts(copy) - t);
  const long long size = offset < 0 ? -offset : offset;
  char text[96];
  int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02lld:%02lld",
                             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', size / 3600,
                             size / 60 % 60);
  if (size % 60 != 0 && length > 0) {  // local mean time of old dates
    std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), ":%02lld",
                  size % 60);
  }
  return text;
}

}  // namespace brintel::records
