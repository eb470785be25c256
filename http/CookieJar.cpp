#include "http/CookieJar.h"

#include <array>

#include "http/TextSearch.h"
#include "text/TextOps.h"

namespace velmora::cookie_jar {
namespace {

constexpr std::string_view kSetCookie = "Set-Cookie:";
constexpr std::string_view kSeparator = "; ";
constexpr std::array<std::string_view, 3> kDeletedEndings = {"=deleted;", "=DELETED;", "=Deleted;"};

bool FitsAfterGrowth(const Text& jar, std::size_t added, std::size_t removed) {
    return jar.size() + added <= kMaxCookieJarBytes + removed;
}

bool IsDeletion(std::string_view item) {
    for (std::string_view ending : kDeletedEndings) {
        if (item.ends_with(ending)) return true;
    }
    return false;
}

// Replaces the entry at `entry` (the "; " in front of it) whose value ends at the "; " found at
// or after `valueFrom` with `replacement`; false when the entry has no end.
bool ReplaceEntry(Text& jar, std::size_t entry, std::size_t valueFrom, std::string_view replacement,
                  bool withSemicolon) {
    std::size_t end = FindAt(jar, kSeparator, valueFrom);
    if (end == kNotFound) return false;
    std::size_t start = entry + kSeparator.size();
    std::size_t length = end - start + (withSemicolon ? 1 : 0);
    if (!FitsAfterGrowth(jar, replacement.size(), length)) return false;
    jar.replace(start, length, replacement);
    return true;
}

// The next "Set-Cookie:" at or after `from` that begins a line: a header whose name merely
// ends in it (X-Set-Cookie:) sets nothing.
std::size_t NextSetCookieLine(std::string_view headers, std::size_t from) {
    for (std::size_t found = FindAt(headers, kSetCookie, from, true); found != kNotFound;
         found = FindAt(headers, kSetCookie, found + 1, true)) {
        if (found == 0 || headers[found - 1] == '\n') return found;
    }
    return kNotFound;
}

}  // namespace

void MergeSetCookies(Text& jar, std::string_view headers, [[maybe_unused]] int mergeOption) {
    for (std::size_t found = NextSetCookieLine(headers, 0); found != kNotFound;) {
        std::size_t itemStart = found + kSetCookie.size();
        // An item ends at its first ";" or at the end of its line, whichever comes first, so a
        // line without attributes neither vanishes nor reaches into the next line.
        std::size_t semicolon = FindAt(headers, ";", itemStart);
        std::size_t lineEnd = FindAt(headers, "\r\n", itemStart);
        if (lineEnd == kNotFound) lineEnd = headers.size();
        std::size_t itemEnd = semicolon != kNotFound && semicolon < lineEnd ? semicolon : lineEnd;
        std::size_t next =
            itemEnd < headers.size() && headers[itemEnd] == ';' ? itemEnd + 1 : itemEnd;
        Text item = TrimLeading(headers.substr(itemStart, itemEnd - itemStart)) + ";";
        found = NextSetCookieLine(headers, next);

        std::size_t equals = item.find('=');
        if (equals == Text::npos) continue;
        std::string_view name = std::string_view(item).substr(0, equals + 1);
        bool deleted = IsDeletion(item);
        std::size_t entry = FindAt(jar, Text(kSeparator).append(name), 0);
        if (entry != kNotFound) {
            std::size_t valueFrom = entry + kSeparator.size() + name.size();
            if (deleted) {
                std::size_t end = FindAt(jar, kSeparator, valueFrom);
                // From the blank before the entry through the ";" after it.
                if (end != kNotFound) jar.erase(entry + 1, end - entry);
            } else {
                ReplaceEntry(jar, entry, valueFrom, item, true);
            }
        } else if (!deleted && FitsAfterGrowth(jar, item.size() + 1, 0)) {
            jar.append(item).append(" ");
        }
    }
}

bool AddCookies(Text& jar, std::string_view pairs) {
    bool changed = false;
    for (const Text& piece : SplitText(pairs, ";")) {
        Text part = TrimLeading(piece);
        std::size_t equals = part.find('=');
        if (equals == Text::npos) continue;
        Text key = Text(kSeparator).append(part, 0, equals).append("=");
        std::size_t entry = FindAt(jar, key, 0);
        if (entry == kNotFound) {
            if (!FitsAfterGrowth(jar, part.size() + kSeparator.size(), 0)) continue;
            jar.append(part).append(kSeparator);
            changed = true;
        } else if (ReplaceEntry(jar, entry, entry + key.size(), part, false)) {
            changed = true;
        }
    }
    return changed;
}

bool RemoveCookies(Text& jar, std::string_view names) {
    bool changed = false;
    for (const Text& piece : SplitText(names, ";")) {
        Text part = TrimLeading(piece);
        Text key = Text(kSeparator).append(part.substr(0, part.find('='))).append("=");
        std::size_t entry = FindAt(jar, key, 0);
        if (entry == kNotFound) continue;
        std::size_t end = FindAt(jar, kSeparator, entry + key.size());
        if (end == kNotFound) continue;
        jar.erase(entry, end - entry);
        changed = true;
    }
    return changed;
}

Text GetCookie(std::string_view jar, std::string_view name, bool withName) {
    if (name.empty()) return {};
    // The whole name up to its "=": "a" does not find "ab=1".
    std::size_t found = FindAt(jar, Text(kSeparator).append(name).append("="), 0);
    if (found == kNotFound) return {};
    std::size_t entry = found + kSeparator.size();
    std::size_t valueStart = entry + name.size() + 1;
    std::size_t end = FindAt(jar, ";", valueStart);
    if (end == kNotFound) return {};
    std::size_t start = withName ? entry : valueStart;
    return Text(jar.substr(start, end - start));
}

Text CookieLineValue(std::string_view jar) {
    if (jar.size() < 5) return {};
    return Text(jar.substr(2, jar.size() - 4));
}

Text JarFromText(std::string_view text) {
    // The empty text is taken as "no cookies", not as an entry without a name.
    if (text.empty()) return Text(kEmptyCookieJar);
    Text jar = text.starts_with(kSeparator) ? Text(text) : Text(kSeparator).append(text);
    if (!text.ends_with(kSeparator)) {
        if (text.back() != ';') jar += ';';
        if (text.back() != ' ') jar += ' ';
    }
    return jar;
}

}  // namespace velmora::cookie_jar
