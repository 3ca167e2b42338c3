#include "core/platform/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace marrowick {

bool ToLocalTime(std::int64_t unixSeconds, std::tm& local) {
    const auto instant = static_cast<std::time_t>(unixSeconds);
    return ::localtime_r(&instant, &local) != nullptr;
}

std::string FormatLocalTime(std::int64_t unixSeconds) {
    std::tm local{};
    if (!ToLocalTime(unixSeconds, local)) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

} // namespace marrowick
