// The text helpers that take positions and counts, against their edge rules: results stay
// inside the text, a found position holds what was searched, counts add up. Fields: text,
// searched (also marker and replacement), start, count, case flag, end marker, piece limit.

#include <algorithm>

#include "FuzzInput.h"
#include "text/TextOps.h"

using velmora::Text;
using velmora::fuzz::Check;

namespace {

bool SameAt(std::string_view text, int position, std::string_view searched, bool ignoreCase) {
    const std::string_view there =
        text.substr(static_cast<std::size_t>(position - 1), searched.size());
    return ignoreCase ? velmora::ToLowerText(there) == velmora::ToLowerText(searched)
                      : there == searched;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::FuzzInput input(data, size);
    const std::string_view text = input.Text();
    const std::string_view searched = input.Text();
    const int start = input.Int(-3, 1 << 20);
    const int count = input.Int(-3, 1 << 20);
    const bool ignoreCase = input.Flag();
    const std::string_view endMarker = input.Text();
    const int pieces = input.Int(-2, 1000);
    const int length = static_cast<int>(text.size());

    const int found = velmora::FindText(text, searched, start, ignoreCase);
    Check(found == -1 || (found >= std::max(start, 1) || searched.empty()), "found from start");
    if (found != -1 && !searched.empty()) {
        Check(found - 1 + static_cast<int>(searched.size()) <= length, "found inside the text");
        Check(SameAt(text, found, searched, ignoreCase), "found text matches");
    }
    const int last = velmora::FindTextReverse(text, searched, start, ignoreCase);
    if (last != -1 && !searched.empty()) {
        Check(last - 1 + static_cast<int>(searched.size()) <= std::min(start - 1, length),
              "found backwards before start");
        Check(SameAt(text, last, searched, ignoreCase), "found backwards text matches");
    }

    const int kept = std::clamp(count, 0, length);
    Check(velmora::LeftText(text, count) == text.substr(0, static_cast<std::size_t>(kept)), "left");
    Check(velmora::RightText(text, count) == text.substr(static_cast<std::size_t>(length - kept)),
          "right");
    const Text middle = velmora::MidText(text, start, count);
    if (!middle.empty()) {
        Check(text.substr(static_cast<std::size_t>(start - 1), middle.size()) == middle, "mid");
    }
    const Text replaced = velmora::ReplaceAt(text, start, count, searched);
    const int at = std::clamp(start, 1, length + 1);
    const int deleted = std::clamp(count, 0, length - at + 1);
    Check(replaced.size() == text.size() - static_cast<std::size_t>(deleted) + searched.size(),
          "replaced length");

    const Text between = velmora::TextBetween(text, searched, endMarker, start, ignoreCase);
    Check(between.size() <= text.size(), "between inside the text");
    std::size_t pieceBytes = 0;
    for (const Text& piece : velmora::SplitText(text, searched, pieces)) pieceBytes += piece.size();
    Check(pieceBytes <= text.size(), "pieces inside the text");
    Check(velmora::TrimBoth(text).size() <= velmora::TrimLeading(text).size(), "trims");
    Check(velmora::RemoveSpaces(text).size() <= text.size(), "spaces removed");
    Check(velmora::ToUpperText(text).size() == text.size(), "upper keeps the length");
    static_cast<void>(velmora::ToInteger(text));
    return 0;
}
