// Numbers, dates and byte arrays to and from texts, and the number services.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "text/CodePage.h"
#include "text/FatalHandler.h"
#include "text/TextAllocation.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

static_assert(std::endian::native == std::endian::little,
              "ToBytes hands out numbers as stored, which callers read as little-endian");

// Room for any number to_chars writes here: a 64-bit integer or 13 significant digits with
// sign, point and exponent.
constexpr std::size_t kNumberTextCapacity = 32;

template <typename... Format>
Text NumberText(auto value, Format... format) {
    char buffer[kNumberTextCapacity];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format...);
    return TextOf(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

// The half-width form of the character at `offset` that ToInteger cares about (full-width
// digits, signs and space), else its first byte; `width` receives the character's length.
char HalfWidthAt(std::string_view text, std::size_t offset, std::size_t& width) {
    const auto byte = static_cast<unsigned char>(text[offset]);
    if (!IsLeadByte(byte) || offset + 1 >= text.size()) {
        width = 1;
        return static_cast<char>(byte);
    }
    width = 2;
    // Full-width ASCII forms are 0xA3 0xA1..0xFE; the full-width space is 0xA1 0xA1.
    const auto trail = static_cast<unsigned char>(text[offset + 1]);
    if (byte == 0xA3 && (trail == 0xAB || trail == 0xAD || (trail >= 0xB0 && trail <= 0xB9))) {
        return static_cast<char>(trail - 0x80);
    }
    if (byte == 0xA1 && trail == 0xA1) return ' ';
    return static_cast<char>(byte);
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

namespace detail {

double RemainderOf(double dividend, const double* divisors, std::size_t count) {
    double result = dividend;
    for (std::size_t i = 0; i < count; ++i) {
        if (divisors[i] == 0) RaiseFatal(Utf8ToSystem("不能求余数于零"));
        result = std::fmod(result, divisors[i]);
    }
    return result;
}

Bytes BytesOf(const void* data, std::size_t size) {
    Bytes bytes = NewBytes(size);
    if (size > 0) std::memcpy(bytes.data(), data, size);
    return bytes;
}

}  // namespace detail

std::int64_t TruncateToInteger(double value) {
    // 2^63 is exact as a double; the conversion itself truncates, independent of the rounding
    // mode, once the value is known to fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(value)) return 0;
    if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (value < -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

int ToInteger(double value) {
    return static_cast<int>(static_cast<std::uint32_t>(TruncateToInteger(value)));
}

int ToInteger(std::string_view text) {
    std::size_t offset = 0;
    std::size_t width = 0;
    auto current = [&] { return offset < text.size() ? HalfWidthAt(text, offset, width) : '\0'; };
    while (offset < text.size() && IsBlank(current())) offset += width;
    bool negative = false;
    if (const char sign = current(); sign == '+' || sign == '-') {
        negative = sign == '-';
        offset += width;
    }
    // Accumulated as a negative number, so that the int minimum itself fits.
    constexpr std::int64_t kMin = std::numeric_limits<int>::min();
    constexpr std::int64_t kMax = std::numeric_limits<int>::max();
    std::int64_t value = 0;
    for (char digit = current(); digit >= '0' && digit <= '9'; digit = current()) {
        value = std::max(value * 10 - (digit - '0'), kMin - 1);
        offset += width;
    }
    return static_cast<int>(negative ? std::max(value, kMin) : std::min(-value, kMax));
}

Text ToText(int value) {
    return NumberText(value);
}
Text ToText(std::int64_t value) {
    return NumberText(value);
}
Text ToText(float value) {
    return NumberText(value, std::chars_format::general, 6);
}
Text ToText(double value) {
    return NumberText(value, std::chars_format::general, 13);
}

Text ToText(bool value) {
    static const Text kTrue = Utf8ToSystem("真");
    static const Text kFalse = Utf8ToSystem("假");
    return value ? kTrue : kFalse;
}

Text ToText(const DateTime& value) {
    static const Text kYear = Utf8ToSystem("年"), kMonth = Utf8ToSystem("月"),
                      kDay = Utf8ToSystem("日"), kHour = Utf8ToSystem("时"),
                      kMinute = Utf8ToSystem("分"), kSecond = Utf8ToSystem("秒");
    Text date =
        ConcatText(ToText(value.year), kYear, ToText(value.month), kMonth, ToText(value.day), kDay);
    if (value.second != 0) {
        return ConcatText(date, ToText(value.hour), kHour, ToText(value.minute), kMinute,
                          ToText(value.second), kSecond);
    }
    if (value.minute != 0) {
        return ConcatText(date, ToText(value.hour), kHour, ToText(value.minute), kMinute);
    }
    if (value.hour != 0) return ConcatText(date, ToText(value.hour), kHour);
    return date;
}

Text ToText(std::string_view value) {
    return TextOf(value);
}

Text ToText(const Bytes& value) {
    const auto end = std::find(value.begin(), value.end(), 0);
    return TextOf(std::string_view(reinterpret_cast<const char*>(value.data()),
                                   static_cast<std::size_t>(end - value.begin())));
}

Text ToHexText(int value) {
    Text text = NumberText(static_cast<unsigned>(value), 16);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    return text;
}

Text SpaceText(int n) {
    if (n < 1) return {};
    Text text = NewText(static_cast<std::size_t>(n));
    std::fill(text.begin(), text.end(), ' ');
    return text;
}

Text CharText(int code) {
    const auto byte = static_cast<char>(code & 0xFF);
    return byte == '\0' ? Text() : TextOf(std::string_view(&byte, 1));
}

int ByteLength(const Bytes& bytes) {
    return static_cast<int>(bytes.size());
}

Bytes ZeroBytes(int n) {
    return n <= 0 ? Bytes() : NewBytes(static_cast<std::size_t>(n));
}

Bytes LeftBytes(const Bytes& bytes, int n) {
    if (n <= 0) return {};
    return detail::BytesOf(bytes.data(), std::min(bytes.size(), static_cast<std::size_t>(n)));
}

Bytes ToBytes(std::string_view text) {
    return detail::BytesOf(text.data(), text.size());
}

}  // namespace velmora
