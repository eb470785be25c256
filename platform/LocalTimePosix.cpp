#include <ctime>

#include "platform/LocalTime.h"
#include "platform/LocalTimeOfTm.h"

namespace velmora {

std::optional<LocalTime> LocalTimeAt(std::int64_t unixSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    return LocalTimeOfTm(local, local.tm_gmtoff);
}

}  // namespace velmora
