#include "regex/Dialect.h"

namespace velmora {
namespace {

constexpr size_t kRejected = std::string_view::npos;

// Escaped letters that mean the same in both dialects. Any other escaped letter stands for
// itself in the scripting dialect (`\A` is "A"), while PCRE2 gives most of them a meaning.
constexpr std::string_view kSharedEscapes = "bBdDfnrsStwWxuc";
// Inside a class `\B` is a plain "B" for the scripting engine and an error for PCRE2.
constexpr std::string_view kSharedClassEscapes = "bdDfnrsStwWxuc";
// `\v` is the vertical tab alone in the scripting dialect, a class with `\n` in PCRE2.
constexpr std::string_view kVerticalTab = "\\x0B";
// Multi-line anchors of the scripting engine also stop at a carriage return.
constexpr std::string_view kLineStart = "(?<![^\\n\\r])";
constexpr std::string_view kLineEnd = "(?![^\\n\\r])";

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Translates the escape at pattern[i] (a backslash); returns the index after it.
size_t TranslateEscape(std::string_view pattern, size_t i, bool inClass, std::string& out) {
    if (i + 1 >= pattern.size()) return kRejected;
    char escaped = pattern[i + 1];
    std::string_view shared = inClass ? kSharedClassEscapes : kSharedEscapes;
    if (escaped == 'v') {
        out += kVerticalTab;
    } else if (IsAsciiLetter(escaped) && shared.find(escaped) == std::string_view::npos) {
        out += escaped;
    } else {
        out += '\\';
        out += escaped;
    }
    return i + 2;
}

// Translates the class opening at pattern[i]; returns the index after its closing bracket.
// The class ends at the first unescaped "]", so "[]" is empty and "[^]" is any character.
size_t TranslateClass(std::string_view pattern, size_t i, std::string& out) {
    size_t j = i + 1;
    bool negated = j < pattern.size() && pattern[j] == '^';
    if (negated) ++j;
    if (j < pattern.size() && pattern[j] == ']') {
        out += negated ? "[\\s\\S]" : "(?!)";
        return j + 1;
    }
    out += negated ? "[^" : "[";
    while (j < pattern.size() && pattern[j] != ']') {
        if (pattern[j] == '\\') {
            j = TranslateEscape(pattern, j, true, out);
            if (j == kRejected) return kRejected;
        } else {
            // A "[" inside a class is literal here; PCRE2 would read "[:alpha:]" as POSIX.
            if (pattern[j] == '[') out += '\\';
            out += pattern[j++];
        }
    }
    if (j >= pattern.size()) return kRejected;
    out += ']';
    return j + 1;
}

// Length of a counted quantifier {n}, {n,} or {n,m} at pattern[i], 0 when "{" is literal.
size_t CountedQuantifierLength(std::string_view pattern, size_t i) {
    size_t j = i + 1;
    size_t digitsStart = j;
    while (j < pattern.size() && IsDigit(pattern[j])) ++j;
    if (j == digitsStart) return 0;
    if (j < pattern.size() && pattern[j] == ',') {
        ++j;
        while (j < pattern.size() && IsDigit(pattern[j])) ++j;
    }
    if (j >= pattern.size() || pattern[j] != '}') return 0;
    return j + 1 - i;
}

}  // namespace

std::optional<std::string> TranslatePattern(std::string_view pattern, bool multiline) {
    std::string out;
    out.reserve(pattern.size() + 16);
    int openGroups = 0;
    size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        bool quantifier = false;
        if (c == '\\') {
            i = TranslateEscape(pattern, i, false, out);
        } else if (c == '[') {
            i = TranslateClass(pattern, i, out);
        } else if (c == '(') {
            char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
            if (next == '?') {
                // Only non-capturing groups and look-ahead exist in the scripting dialect.
                char kind = i + 2 < pattern.size() ? pattern[i + 2] : '\0';
                if (kind != ':' && kind != '=' && kind != '!') return std::nullopt;
                out.append(pattern.substr(i, 3));
                i += 3;
            } else if (next == '*') {
                return std::nullopt;  // a PCRE2 verb such as (*LIMIT_MATCH=...)
            } else {
                out += '(';
                ++i;
            }
            ++openGroups;
        } else if (c == ')') {
            // Checked here because Regex wraps the pattern in a group of its own.
            if (openGroups == 0) return std::nullopt;
            --openGroups;
            out += ')';
            ++i;
        } else if (c == '^' || c == '$') {
            if (multiline) {
                out += c == '^' ? kLineStart : kLineEnd;
            } else {
                out += c;
            }
            ++i;
        } else if (c == '*' || c == '+' || c == '?') {
            out += c;
            ++i;
            quantifier = true;
        } else if (c == '{') {
            size_t length = CountedQuantifierLength(pattern, i);
            quantifier = length > 0;
            out += quantifier ? pattern.substr(i, length) : std::string_view("\\{");
            i += quantifier ? length : 1;
        } else if (c == '}') {
            out += "\\}";
            ++i;
        } else {
            out += c;
            ++i;
        }
        if (i == kRejected) return std::nullopt;
        if (quantifier) {
            if (i < pattern.size() && pattern[i] == '?') out += pattern[i++];
            if (i < pattern.size() && pattern[i] == '+') return std::nullopt;  // possessive
        }
    }
    if (openGroups != 0) return std::nullopt;
    return out;
}

}  // namespace velmora
