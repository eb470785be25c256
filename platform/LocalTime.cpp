#include "platform/LocalTimeOfTm.h"

namespace velmora {

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kTmYearBase = 1900;

}  // namespace

LocalTime LocalTimeOfTm(const std::tm& local, std::int64_t utcOffsetSeconds) {
    return LocalTime{local.tm_year + kTmYearBase,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(utcOffsetSeconds / kSecondsPerMinute)};
}

}  // namespace velmora
