#include "text/TextOps.h"

#include <algorithm>
#include <cstring>

#include "text/TextAllocation.h"

namespace velmora {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

// Offset of the character after the one starting at `offset` (may pass the end by one when a
// lead byte is the last byte).
std::size_t NextCharacter(std::string_view text, std::size_t offset) {
    return offset + (IsLeadByte(static_cast<unsigned char>(text[offset])) ? 2 : 1);
}

// Clamps a 1-based position given as int into a 0-based offset in 0 .. length.
std::size_t OffsetOf(std::string_view text, int position) {
    const std::int64_t offset = std::int64_t{position} - 1;
    return static_cast<std::size_t>(std::clamp<std::int64_t>(offset, 0, std::ssize(text)));
}

unsigned char FoldAscii(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// Equal with ASCII letters folded; a trail byte is compared as it is, so that two different
// characters whose trail bytes are a letter's two cases never compare equal.
bool EqualFolded(const char* a, std::string_view b) {
    for (std::size_t i = 0; i < b.size(); ++i) {
        const auto byte = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(byte)) {
            if (a[i] != b[i] || (i + 1 < b.size() && a[i + 1] != b[i + 1])) return false;
            ++i;
        } else if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(byte)) {
            return false;
        }
    }
    return true;
}

// The first character boundary at or after `target`, walking from the boundary `walk`.
std::size_t WalkTo(std::string_view text, std::size_t walk, std::size_t target) {
    // Eight bytes from a boundary that are all below 0x80, or all at or above it, hold whole
    // characters only (single bytes, or four pairs), so the walk may take them at once.
    constexpr std::size_t kWord = sizeof(std::uint64_t);
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    while (walk + kWord <= target) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + walk, kWord);
        const std::uint64_t high = word & kHighBits;
        walk = high == 0 || high == kHighBits ? walk + kWord : NextCharacter(text, walk);
    }
    while (walk < target) walk = NextCharacter(text, walk);
    return walk;
}

// First offset at or after `from`, on a character boundary of the walk that starts at `from`,
// where `searched` (not empty) occurs; kNotFound when none.
std::size_t FindFrom(std::string_view text, std::string_view searched, std::size_t from,
                     bool caseInsensitive) {
    std::size_t walk = from;
    const auto first = static_cast<unsigned char>(searched.front());
    if (caseInsensitive && IsLeadByte(first)) {
        for (; walk < text.size() && text.size() - walk >= searched.size();
             walk = NextCharacter(text, walk)) {
            if (EqualFolded(text.data() + walk, searched)) return walk;
        }
        return kNotFound;
    }
    if (caseInsensitive) {
        // Candidates are the bytes that fold to the first one; those the walk lands on are tried.
        const unsigned char folded = FoldAscii(first);
        // Only a letter has another byte folding to it; any other first byte the library finds.
        const bool findByLibrary = folded < 'a' || folded > 'z';
        for (std::size_t candidate = walk;; ++candidate) {
            if (findByLibrary) {
                candidate = std::min(text.find(static_cast<char>(first), candidate), text.size());
            }
            while (candidate < text.size() &&
                   FoldAscii(static_cast<unsigned char>(text[candidate])) != folded) {
                ++candidate;
            }
            if (candidate >= text.size() || text.size() - candidate < searched.size()) {
                return kNotFound;
            }
            walk = WalkTo(text, walk, candidate);
            if (walk == candidate && EqualFolded(text.data() + walk, searched)) return walk;
            if (walk > candidate) candidate = walk - 1;
        }
    }
    // Let the library find candidates, then keep those the walk lands on.
    while (walk < text.size()) {
        const std::size_t candidate = text.find(searched, walk);
        if (candidate == kNotFound) return kNotFound;
        walk = WalkTo(text, walk, candidate);
        if (walk == candidate) return candidate;
    }
    return kNotFound;
}

int PositionOf(std::size_t offset) {
    return offset == kNotFound ? -1 : static_cast<int>(offset + 1);
}

// Length of the space character at `offset`, 0 when none starts there.
std::size_t SpaceAt(std::string_view text, std::size_t offset) {
    constexpr char kFullWidthSpaceByte = '\xA1';
    if (text[offset] == ' ') return 1;
    if (text[offset] == kFullWidthSpaceByte && offset + 1 < text.size() &&
        text[offset + 1] == kFullWidthSpaceByte) {
        return 2;
    }
    return 0;
}

std::size_t SkipLeadingSpaces(std::string_view text) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t space = SpaceAt(text, offset);
        if (space == 0) break;
        offset += space;
    }
    return offset;
}

// Offset just after the last character that is not a space, walking from the start so that
// a trail byte of 0xA1 is never taken for half of a full-width space.
std::size_t EndWithoutTrailingSpaces(std::string_view text) {
    std::size_t end = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const std::size_t space = SpaceAt(text, offset);
        offset = space > 0 ? offset + space : std::min(NextCharacter(text, offset), text.size());
        if (space == 0) end = offset;
    }
    return end;
}

template <typename MapByte>
Text MapAsciiBytes(std::string_view text, MapByte map) {
    Text result = TextOf(text);
    for (std::size_t offset = 0; offset < result.size(); offset = NextCharacter(result, offset)) {
        result[offset] = static_cast<char>(map(static_cast<unsigned char>(result[offset])));
    }
    return result;
}

}  // namespace

namespace detail {

Text JoinPieces(const std::string_view* pieces, std::size_t count) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += pieces[i].size();
    Text result = NewText(total);
    char* out = result.data();
    for (std::size_t i = 0; i < count; ++i) {
        if (!pieces[i].empty()) std::memcpy(out, pieces[i].data(), pieces[i].size());
        out += pieces[i].size();
    }
    return result;
}

}  // namespace detail

int TextLength(std::string_view text) {
    return static_cast<int>(text.size());
}

int CompareText(std::string_view a, std::string_view b) {
    const int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPos, bool caseInsensitive) {
    const int startFound = FindText(text, startMarker, startPos, caseInsensitive);
    if (startFound == -1) return {};
    const int afterStart = startFound + TextLength(startMarker);
    const int endFound = FindText(text, endMarker, afterStart, caseInsensitive);
    if (endFound == -1) return {};
    return MidText(text, afterStart, endFound - afterStart);
}

int FindText(std::string_view text, std::string_view searched, int start, bool caseInsensitive) {
    const std::size_t from = OffsetOf(text, start);
    if (from >= text.size()) return -1;
    if (searched.empty()) return 1;
    return PositionOf(FindFrom(text, searched, from, caseInsensitive));
}

int FindTextReverse(std::string_view text, std::string_view searched, std::optional<int> start,
                    bool caseInsensitive) {
    if (start && *start <= 1) return -1;
    const std::string_view range = start ? text.substr(0, OffsetOf(text, *start)) : text;
    if (range.empty()) return -1;
    if (searched.empty()) return 1;
    std::size_t last = kNotFound;
    for (std::size_t found = FindFrom(range, searched, 0, caseInsensitive); found != kNotFound;
         found = FindFrom(range, searched, NextCharacter(range, found), caseInsensitive)) {
        last = found;
    }
    return PositionOf(last);
}

Text LeftText(std::string_view text, int n) {
    if (n <= 0) return {};
    return TextOf(text.substr(0, static_cast<std::size_t>(n)));
}

Text RightText(std::string_view text, int n) {
    if (n <= 0) return {};
    const std::size_t count = std::min(static_cast<std::size_t>(n), text.size());
    return TextOf(text.substr(text.size() - count));
}

Text MidText(std::string_view text, int start, int n) {
    if (start < 1 || start > TextLength(text) || n <= 0) return {};
    return TextOf(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

Text ReplaceAt(std::string_view text, int start, int n, std::string_view replacement) {
    const std::size_t at = OffsetOf(text, start);
    const std::size_t deleted =
        n <= 0 ? 0 : std::min(static_cast<std::size_t>(n), text.size() - at);
    return ConcatText(text.substr(0, at), replacement, text.substr(at + deleted));
}

std::vector<Text> SplitText(std::string_view text, std::string_view separator, int maxCount) {
    std::vector<Text> pieces;
    if (text.empty() || maxCount == 0) return pieces;
    if (separator.empty()) {
        pieces.push_back(TextOf(text));
        return pieces;
    }
    const auto full = [&] {
        return maxCount >= 0 && pieces.size() >= static_cast<std::size_t>(maxCount);
    };
    std::size_t from = 0;
    while (!full()) {
        const std::size_t found =
            from < text.size() ? FindFrom(text, separator, from, false) : kNotFound;
        if (found == kNotFound) {
            if (from < text.size()) pieces.push_back(TextOf(text.substr(from)));
            break;
        }
        pieces.push_back(TextOf(text.substr(from, found - from)));
        from = found + separator.size();
    }
    return pieces;
}

Text TrimLeading(std::string_view text) {
    return TextOf(text.substr(SkipLeadingSpaces(text)));
}

Text TrimBoth(std::string_view text) {
    const std::size_t begin = SkipLeadingSpaces(text);
    const std::string_view rest = text.substr(begin);
    return TextOf(rest.substr(0, EndWithoutTrailingSpaces(rest)));
}

Text RemoveSpaces(std::string_view text) {
    Text result = NewText(text.size());
    std::size_t kept = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const std::size_t space = SpaceAt(text, offset);
        if (space > 0) {
            offset += space;
            continue;
        }
        const std::size_t next = std::min(NextCharacter(text, offset), text.size());
        while (offset < next) result[kept++] = text[offset++];
    }
    result.resize(kept);
    return result;
}

Text ToUpperText(std::string_view text) {
    return MapAsciiBytes(text, [](unsigned char byte) {
        return byte >= 'a' && byte <= 'z' ? byte - ('a' - 'A') : byte;
    });
}

Text ToLowerText(std::string_view text) {
    return MapAsciiBytes(text, FoldAscii);
}

}  // namespace velmora
