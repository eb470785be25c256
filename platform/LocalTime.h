#pragma once
// Broken-down local time in the user's time zone (TZ, when set, on every system).

#include <cstdint>
#include <optional>

namespace velmora {

struct LocalTime {
    int year = 0;              // e.g. 2026
    int month = 0;             // 1 to 12
    int day = 0;               // 1 to 31
    int hour = 0;              // 0 to 23
    int minute = 0;            // 0 to 59
    int second = 0;            // 0 to 60 (a leap second)
    int utcOffsetMinutes = 0;  // east of UTC positive
};

// The local time at `unixSeconds`; nothing when the system cannot tell it.
[[nodiscard]] std::optional<LocalTime> LocalTimeAt(std::int64_t unixSeconds);

}  // namespace velmora
