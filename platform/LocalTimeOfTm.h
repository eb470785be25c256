#pragma once
// For the systems' LocalTimeAt: the C runtime's broken-down time as LocalTime.

#include <cstdint>
#include <ctime>

#include "platform/LocalTime.h"

namespace velmora {

LocalTime LocalTimeOfTm(const std::tm& local, std::int64_t utcOffsetSeconds);

}  // namespace velmora
