#pragma once
// Splits a fuzz input into fields at every kFieldSeparator byte, so that seed files stay
// readable and a mutation of one field leaves the others as they were.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velmora::fuzz {

inline constexpr char kFieldSeparator = '\x01';

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    // The next field; empty once the input is used up.
    std::string_view Text() {
        std::size_t end = rest_.find(kFieldSeparator);
        std::string_view field = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return field;
    }

    // The next field read as a decimal integer (sign allowed), kept within [low, high].
    int Int(int low, int high) {
        std::string_view field = Text();
        long long value = 0;
        std::from_chars(field.data(), field.data() + field.size(), value);
        return static_cast<int>(value < low ? low : value > high ? high : value);
    }

    bool Flag() { return Int(0, 1) == 1; }

private:
    std::string_view rest_;
};

// A property every input must keep; a broken one is reported and ends the run like a crash.
inline void Check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", property);
    std::abort();
}

}  // namespace velmora::fuzz
