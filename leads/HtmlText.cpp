#include "leads/HtmlText.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "generated/HtmlEntityTable.h"
#include "leads/Utf8Walk.h"

namespace velmora {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kFirstC1 = 0x80;
constexpr char32_t kLastC1 = 0x9F;
// The shortest name the list holds ("lt", "gt"): a shorter prefix is never tried.
constexpr std::size_t kShortestName = 2;

// Tags that end a line or a block where they stand: the text on either side does not run on.
constexpr std::array<std::string_view, 20> kBreakingTags{
    "br", "p",  "div", "li", "ul", "ol", "tr", "td", "th", "table",
    "h1", "h2", "h3",  "h4", "h5", "h6", "hr", "dd", "dt", "dl"};

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsAsciiDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const html_tables::NamedReference* FindName(std::string_view name) {
    const auto* begin = std::begin(html_tables::kNamedReferences);
    const auto* end = std::end(html_tables::kNamedReferences);
    const auto* found = std::lower_bound(
        begin, end, name, [](const auto& entry, std::string_view key) { return entry.name < key; });
    return found != end && found->name == name ? found : nullptr;
}

// The numeric reference after "&#" at `at`; false when no digit follows.
bool DecodeNumeric(std::string_view text, std::size_t& at, std::string& out) {
    const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
    std::size_t i = hex ? at + 1 : at;
    const std::size_t firstDigit = i;
    char32_t value = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        const int digit = hex ? HexValue(text[i]) : (IsAsciiDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0) break;
        // Every digit is read, however many; the value stops growing once it is out of range.
        if (!tooLarge) {
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            tooLarge = value > kMaxCodePoint;
        }
    }
    if (i == firstDigit) return false;
    if (i < text.size() && text[i] == ';') ++i;
    at = i;
    if (tooLarge || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
        value = kReplacementCharacter;
    } else if (value >= kFirstC1 && value <= kLastC1) {
        value = html_tables::kC1References[value - kFirstC1];
    }
    utf8::Append(out, value);
    return true;
}

// The named reference at `at`, just after "&"; false when no name of the list starts there.
bool DecodeNamed(std::string_view text, std::size_t& at, std::string& out) {
    std::size_t end = at;
    while (end < text.size() && end - at < html_tables::kLongestName &&
           (IsAsciiLetter(text[end]) || IsAsciiDigit(text[end]))) {
        ++end;
    }
    if (end < text.size() && text[end] == ';') {
        if (const auto* found = FindName(text.substr(at, end + 1 - at))) {
            out += found->utf8;
            at = end + 1;
            return true;
        }
    }
    // Only the legacy names, which the list holds without ";", can match a prefix.
    for (std::size_t length = end - at; length >= kShortestName; --length) {
        if (const auto* found = FindName(text.substr(at, length))) {
            out += found->utf8;
            at += length;
            return true;
        }
    }
    return false;
}

// The tag starting at text[at] == '<': the index just past its ">", or 0 when none starts here.
std::size_t TagEnd(std::string_view text, std::size_t at) {
    const std::size_t next = at + 1;
    if (next >= text.size()) return 0;
    if (text.substr(next, 3) == "!--") {
        const std::size_t close = text.find("-->", next + 3);
        return close == std::string_view::npos ? 0 : close + 3;
    }
    const bool opens =
        IsAsciiLetter(text[next]) || text[next] == '!' || text[next] == '?' ||
        (text[next] == '/' && next + 1 < text.size() && IsAsciiLetter(text[next + 1]));
    if (!opens) return 0;
    char quote = 0;
    for (std::size_t i = next; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return 0;
}

bool BreaksText(std::string_view tag) {
    std::size_t i = tag[1] == '/' ? 2 : 1;
    std::string name;
    while (i < tag.size() && (IsAsciiLetter(tag[i]) || IsAsciiDigit(tag[i]))) {
        name += static_cast<char>(tag[i] | 0x20);  // ASCII lower case
        ++i;
    }
    return std::find(kBreakingTags.begin(), kBreakingTags.end(), name) != kBreakingTags.end();
}

// The text copied, except that at each `mark` rewrite(at, out) writes what the text there
// becomes and says where copying goes on.
template <typename Rewrite>
std::string CopyRewriting(std::string_view text, char mark, Rewrite rewrite) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t found = text.find(mark, at);
        if (found == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, found - at));
        at = rewrite(found, out);
    }
    return out;
}

}  // namespace

std::string DecodeHtmlEntities(std::string_view utf8) {
    return CopyRewriting(utf8, '&', [&](std::size_t amp, std::string& out) {
        // Each decoder moves `at` past the reference only when it decodes one.
        std::size_t at = amp + 1;
        if (at < utf8.size() && utf8[at] == '#') {
            std::size_t digits = at + 1;
            if (DecodeNumeric(utf8, digits, out)) return digits;
        } else if (DecodeNamed(utf8, at, out)) {
            return at;
        }
        out += '&';
        return amp + 1;
    });
}

std::string RemoveTags(std::string_view utf8) {
    return CopyRewriting(utf8, '<', [&](std::size_t open, std::string& out) {
        const std::size_t end = TagEnd(utf8, open);
        if (end == 0) {
            out += '<';
            return open + 1;
        }
        if (BreaksText(utf8.substr(open, end - open))) out += ' ';
        return end;
    });
}

}  // namespace velmora
