#pragma once
// One pattern run over one subject, read back by 1-based match and group indexes.
//
// The pattern dialect is that of the scripting engine the program's patterns were written for:
// `.` excludes only a line feed, `\s` is ASCII white space, multi-line `^`/`$` also stop at a
// carriage return, a group that took no part in a match reads as the empty text. Constructs
// that dialect lacks (named groups, look-behind, inline options, possessive quantifiers, verbs)
// make `Create` fail. Every `Create` is bounded in work and memory by counts, not by a clock,
// so a hostile page costs a failed `Create`, never a stalled thread, and the same page gives
// the same matches on every machine.
//
// A Regex is a plain value: it holds the subject and the match offsets, no engine state, so a
// copy is independent and any number of threads may each use their own Regex at once.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

class Regex {
public:
    // Runs `pattern` over `subject`, replacing every earlier result. False when the pattern is
    // rejected (the readers then give 0 or the empty text) or when a work or memory bound ended
    // the search before the end of the subject: the matches found before it stay readable.
    bool Create(const Text& pattern, const Text& subject, bool caseSensitive = false,
                bool multiline = true, bool global = true);
    // The same over a subject already in UTF-8, with the same results as over its system text.
    bool Create(const Text& pattern, const SystemUtf8& subject, bool caseSensitive = false,
                bool multiline = true, bool global = true);

    // The pattern of the last Create (also one that failed); empty before the first.
    [[nodiscard]] Text GetPattern() const;

    // The subject with every match (the first only when not global) replaced; `replacement`
    // expands $1..$99, $&, $`, $' and $$. Empty when the last Create failed (a bound included:
    // a text with only the early matches replaced would pass for a whole one) or never ran.
    [[nodiscard]] Text ReplaceMatches(const Text& replacement) const;

    [[nodiscard]] int MatchCount() const;

    // Match `matchIndex` (1-based); empty when out of range. `position`, when given, receives
    // the match's 0-based byte offset in the subject, or kNoPosition when there is no match.
    [[nodiscard]] Text GetMatch(int matchIndex, int* position = nullptr) const;

    // Group `groupIndex` (1-based) of match `matchIndex`; a group that took no part in the
    // match reads as the empty text (position kNoPosition).
    [[nodiscard]] Text GetSubMatch(int matchIndex, int groupIndex, int* position = nullptr) const;

    // Capture groups of the pattern; 0 when there is no match.
    [[nodiscard]] int GroupCount() const;

    [[nodiscard]] Regex Copy() const { return *this; }

    static constexpr int kNoPosition = -2;

private:
    struct Span {
        size_t begin;  // byte offsets into subject_; begin == kUnset for a group not taken
        size_t end;
    };
    static constexpr size_t kUnset = static_cast<size_t>(-1);

    bool CreateOnUtf8(const Text& pattern, SystemUtf8 subject, bool caseSensitive, bool multiline,
                      bool global);
    void Clear();
    const Span* FindSpan(int matchIndex, int groupIndex) const;
    std::string_view Slice(size_t begin, size_t end) const;
    Text TextOf(const Span* span, int* position) const;
    void AppendExpansion(std::string& out, const std::string& replacement, size_t match) const;

    Text pattern_;
    bool created_ = false;   // a Create ran, whatever its outcome
    bool searched_ = false;  // the last Create ran the pattern: its matches are readable
    bool complete_ = false;  // ... and searched the whole subject
    SystemUtf8 subject_;
    size_t groupCount_ = 0;
    std::vector<Span> matches_;  // groupCount_ + 1 spans per match, the whole match first
};

}  // namespace velmora
