#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace marrowick {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of plist dates.
inline constexpr std::int64_t AppleEpochOffset = 978307200;

// The instant in the local time zone (TZ is honoured); false when it has no local time.
[[nodiscard]] bool ToLocalTime(std::int64_t unixSeconds, std::tm& local);

// "YYYY-MM-DD hh:mm:ss" in the local time zone (TZ is honoured), or "" when the instant has no local time.
[[nodiscard]] std::string FormatLocalTime(std::int64_t unixSeconds);

} // namespace marrowick
