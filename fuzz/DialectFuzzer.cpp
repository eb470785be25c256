// The pattern dialect's translation, compilation and bounded matching, and the readers over
// what was found. Fields: flags (case-sensitive, multi-line, global), pattern, subject,
// replacement; texts in the system code page.

#include <algorithm>

#include "FuzzInput.h"
#include "regex/Regex.h"
#include "text/CodePage.h"

using velmora::Regex;
using velmora::Text;
using velmora::fuzz::Check;

namespace {

// The readers' texts are slices of the subject as the matcher saw it.
void CheckSlice(const Text& subject, const Text& slice, int position) {
    if (position == Regex::kNoPosition) {
        Check(slice.empty(), "no position, no text");
        return;
    }
    Check(position >= 0 && static_cast<std::size_t>(position) + slice.size() <= subject.size(),
          "slice within the subject");
    Check(subject.compare(static_cast<std::size_t>(position), slice.size(), slice) == 0,
          "slice is the subject's text at its position");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::FuzzInput input(data, size);
    const bool caseSensitive = input.Flag();
    const bool multiline = input.Flag();
    const bool global = input.Flag();
    const Text pattern(input.Text());
    const Text subject(input.Text());
    const Text replacement(input.Text());

    Regex regex;
    const bool complete = regex.Create(pattern, subject, caseSensitive, multiline, global);
    Check(regex.GetPattern() == pattern, "pattern kept");
    const int matches = regex.MatchCount();
    Check(matches >= 0 && (global || matches <= 1), "match count");
    // Undecodable bytes reach the matcher as replacement characters.
    const Text seen = velmora::Utf8ToSystem(velmora::SystemToUtf8(subject));
    constexpr int kReadMatches = 64;
    for (int m = 1; m <= std::min(matches, kReadMatches); ++m) {
        int position = 0;
        const Text match = regex.GetMatch(m, &position);
        CheckSlice(seen, match, position);
        for (int group = 1; group <= regex.GroupCount(); ++group) {
            const Text text = regex.GetSubMatch(m, group, &position);
            if (position != Regex::kNoPosition) CheckSlice(seen, text, position);
        }
    }
    Check(regex.GetMatch(matches + 1).empty(), "nothing past the last match");
    const Text replaced = regex.ReplaceMatches(replacement);
    if (!complete) Check(replaced.empty(), "no replacement after a failed Create");
    if (complete && matches == 0) Check(replaced == seen, "nothing to replace");
    return 0;
}
