#include <ctime>

#include "platform/LocalTime.h"

namespace velmora {

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kTmYearBase = 1900;

}  // namespace

std::optional<LocalTime> LocalTimeAt(std::int64_t unixSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    return LocalTime{local.tm_year + kTmYearBase,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(local.tm_gmtoff / kSecondsPerMinute)};
}

}  // namespace velmora
