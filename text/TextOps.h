#pragma once
// The text, number and byte-array operations every subsystem shares. Texts come in as views
// and go out as new Texts. Lengths and positions count bytes; positions are 1-based and a
// search that finds nothing gives -1. Searches step over a lead byte (>= 0x80) and the byte
// after it together, so they never report a position inside a multi-byte character.

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "text/Text.h"

namespace velmora {

// A block of bytes with its length; the empty vector is the missing block.
using Bytes = std::vector<unsigned char>;

// A calendar date and wall-clock time, as the texts of dates show them.
struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

namespace detail {
Text JoinPieces(const std::string_view* pieces, std::size_t count);
double RemainderOf(double dividend, const double* divisors, std::size_t count);
Bytes BytesOf(const void* data, std::size_t size);
}  // namespace detail

// ---- The system's own operations ----

int TextLength(std::string_view text);

template <typename T>
concept TextPiece = std::convertible_to<const T&, std::string_view>;

// All pieces one after another, built with a single allocation.
template <TextPiece First, TextPiece... Rest>
Text ConcatText(const First& first, const Rest&... rest) {
    const std::array<std::string_view, 1 + sizeof...(Rest)> views{std::string_view(first),
                                                                  std::string_view(rest)...};
    return detail::JoinPieces(views.data(), views.size());
}

// -1, 0 or 1 by unsigned byte-wise comparison.
int CompareText(std::string_view a, std::string_view b);

// Truncates toward zero whatever the rounding mode, which it leaves untouched. NaN gives 0;
// values beyond the 64-bit range saturate.
std::int64_t TruncateToInteger(double value);

// The text between the first startMarker found from startPos on and the first endMarker after
// it; empty when either marker is missing (an empty endMarker always gives the empty text).
Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPos = 0, bool caseInsensitive = false);

// ---- Text services ----

// First occurrence at or after `start` (start < 1 counts as 1). An empty `searched` gives 1
// whenever a byte remains from `start` on. caseInsensitive folds ASCII letters only.
int FindText(std::string_view text, std::string_view searched, int start = 1,
             bool caseInsensitive = false);

// Last occurrence lying wholly within the first start - 1 bytes (the whole text when start is
// omitted); -1 when start <= 1. An empty `searched` gives 1 whenever that range holds a byte.
int FindTextReverse(std::string_view text, std::string_view searched,
                    std::optional<int> start = std::nullopt, bool caseInsensitive = false);

Text LeftText(std::string_view text, int n);
Text RightText(std::string_view text, int n);
// n bytes from `start`; empty when start < 1, start > length or n <= 0.
Text MidText(std::string_view text, int start, int n);

// Deletes n bytes at `start` (clamped into 1 .. length + 1, the deletion cut at the end) and
// inserts `replacement` there.
Text ReplaceAt(std::string_view text, int start, int n, std::string_view replacement = {});

inline constexpr int kNoLimit = -1;
// Pieces between separators; an empty piece between adjacent separators is kept, an empty
// last piece is not. At most maxCount pieces (kNoLimit or any negative value: all of them).
std::vector<Text> SplitText(std::string_view text, std::string_view separator = ",",
                            int maxCount = kNoLimit);

// A space here is ASCII 0x20 or the full-width space, the character 0xA1 0xA1.
Text TrimLeading(std::string_view text);
Text TrimBoth(std::string_view text);
Text RemoveSpaces(std::string_view text);

// ASCII letters only; both bytes of a multi-byte character stay as they are.
Text ToUpperText(std::string_view text);
Text ToLowerText(std::string_view text);

// Reads a decimal integer from the start of the text, full-width digits, signs and spaces
// read as their half-width forms; leading blanks and a sign allowed, 0 without digits.
// Values beyond the int range saturate.
int ToInteger(std::string_view text);
inline int ToInteger(const char* text) {
    return ToInteger(std::string_view(text));
}
inline int ToInteger(int value) {
    return value;
}
inline int ToInteger(bool value) {
    return value ? 1 : 0;
}
// Truncated toward zero; the low 32 bits are kept.
int ToInteger(double value);

Text ToText(int value);
Text ToText(std::int64_t value);
Text ToText(float value);   // "%.6g"
Text ToText(double value);  // "%.13g"
Text ToText(bool value);    // "真" or "假"
// "Y年M月D日", then "h时m分s秒", "h时m分" or "h时" by the last non-zero part of the time.
Text ToText(const DateTime& value);
Text ToText(std::string_view value);
inline Text ToText(const char* value) {
    return ToText(std::string_view(value));
}
// The bytes up to the first zero byte.
Text ToText(const Bytes& value);

Text ToHexText(int value);  // upper case, no leading zeros
Text SpaceText(int n);
// The code's low byte as a one-byte text; a zero byte gives the empty text, as it would end
// a zero-terminated text.
Text CharText(int code);

// ---- Number services ----

// dividend modulo each divisor in turn, the remainder taking the dividend's sign. A zero
// divisor ends the program with the fatal error report.
template <std::convertible_to<double>... More>
double Remainder(double dividend, double divisor, More... more) {
    const std::array<double, 1 + sizeof...(More)> divisors{divisor, static_cast<double>(more)...};
    return detail::RemainderOf(dividend, divisors.data(), divisors.size());
}

template <std::convertible_to<int>... More>
constexpr int BitOr(int a, int b, More... more) {
    return ((a | b) | ... | static_cast<int>(more));
}

// ---- Byte arrays ----

int ByteLength(const Bytes& bytes);
// n zero bytes; the empty array when n <= 0.
Bytes ZeroBytes(int n);
// The first n bytes (all when n exceeds the length, none when n <= 0).
Bytes LeftBytes(const Bytes& bytes, int n);

Bytes ToBytes(std::string_view text);
inline Bytes ToBytes(const char* text) {
    return ToBytes(std::string_view(text));
}
inline Bytes ToBytes(const Bytes& bytes) {
    return bytes;
}
template <typename T>
concept StoredNumber = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

// A number's bytes as stored: little-endian, its own width.
template <StoredNumber Number>
Bytes ToBytes(Number value) {
    return detail::BytesOf(&value, sizeof value);
}

}  // namespace velmora
