#include <ctime>

#include "platform/LocalTime.h"
#include "platform/LocalTimeOfTm.h"

namespace velmora {

// The C runtime's calls rather than the system's time-zone calls, so that TZ counts here as it
// does elsewhere.
std::optional<LocalTime> LocalTimeAt(std::int64_t unixSeconds) {
    const __time64_t seconds = unixSeconds;
    std::tm local{};
    if (_localtime64_s(&local, &seconds) != 0) return std::nullopt;
    std::tm asUtc = local;  // _mkgmtime64 normalises what it is given
    const __time64_t localAsUtc = _mkgmtime64(&asUtc);
    if (localAsUtc == -1) return std::nullopt;
    return LocalTimeOfTm(local, localAsUtc - seconds);
}

}  // namespace velmora
