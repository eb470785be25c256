// Differential check of the searching operations against a deliberately naive model, over
// random byte strings mixing ASCII with two- and four-byte characters whose trail bytes look
// like ASCII. The seed is fixed; a failure names the round so it can be replayed.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "text/TextOps.h"

namespace velmora {
namespace {

// ---- The model: the walk written out as a list of positions, then plain comparisons. ----

std::vector<std::size_t> WalkPositions(const std::string& text, std::size_t from) {
    std::vector<std::size_t> positions;
    for (std::size_t p = from; p < text.size();) {
        positions.push_back(p);
        p += static_cast<unsigned char>(text[p]) >= 0x80 ? 2 : 1;
    }
    return positions;
}

std::string Folded(std::string s) {
    // Folds every ASCII letter that the walk reaches; trail bytes stay as they are.
    for (std::size_t p : WalkPositions(s, 0)) {
        if (s[p] >= 'A' && s[p] <= 'Z') s[p] = static_cast<char>(s[p] - 'A' + 'a');
    }
    return s;
}

bool MatchesAt(const std::string& text, const std::string& searched, std::size_t p, bool fold) {
    if (p + searched.size() > text.size()) return false;
    const std::string piece = text.substr(p, searched.size());
    return fold ? Folded(piece) == Folded(searched) : piece == searched;
}

int ModelFind(const std::string& text, const std::string& searched, int start, bool fold) {
    const std::size_t s = static_cast<std::size_t>(std::max(start - 1, 0));
    if (s >= text.size()) return -1;
    if (searched.empty()) return 1;
    for (std::size_t p : WalkPositions(text, s)) {
        if (MatchesAt(text, searched, p, fold)) return static_cast<int>(p) + 1;
    }
    return -1;
}

int ModelFindReverse(const std::string& text, const std::string& searched,
                     std::optional<int> start) {
    if (start && *start <= 1) return -1;
    const std::string range =
        start ? text.substr(
                    0, std::min<std::size_t>(static_cast<std::size_t>(*start - 1), text.size()))
              : text;
    if (range.empty()) return -1;
    if (searched.empty()) return 1;
    int last = -1;
    for (std::size_t p : WalkPositions(range, 0)) {
        if (MatchesAt(range, searched, p, false)) last = static_cast<int>(p) + 1;
    }
    return last;
}

std::string ModelBetween(const std::string& text, const std::string& startMarker,
                         const std::string& endMarker, int startPos, bool fold) {
    const int p1 = ModelFind(text, startMarker, startPos, fold);
    if (p1 == -1) return "";
    const int p = p1 + static_cast<int>(startMarker.size());
    const int p2 = ModelFind(text, endMarker, p, fold);
    if (p2 == -1 || p2 <= p || p > static_cast<int>(text.size())) return "";
    return text.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(p2 - p));
}

std::vector<Text> ModelSplit(const std::string& text, const std::string& separator, int maxCount) {
    std::vector<Text> pieces;
    if (text.empty() || maxCount == 0) return pieces;
    if (separator.empty()) return {text};
    int from = 1;
    while (maxCount < 0 || static_cast<int>(pieces.size()) < maxCount) {
        const int found = ModelFind(text, separator, from, false);
        if (found == -1 || from > static_cast<int>(text.size())) {
            if (from <= static_cast<int>(text.size())) {
                pieces.push_back(text.substr(static_cast<std::size_t>(from - 1)));
            }
            break;
        }
        pieces.push_back(text.substr(static_cast<std::size_t>(from - 1),
                                     static_cast<std::size_t>(found - from)));
        from = found + static_cast<int>(separator.size());
    }
    return pieces;
}

std::string ModelReplace(std::string text, int start, int n, const std::string& replacement) {
    const int length = static_cast<int>(text.size());
    const int at = std::clamp(start, 1, length + 1) - 1;
    const int deleted = std::clamp(n, 0, length - at);
    text.erase(static_cast<std::size_t>(at), static_cast<std::size_t>(deleted));
    text.insert(static_cast<std::size_t>(at), replacement);
    return text;
}

// ---- Random texts ----

class TextGenerator {
public:
    explicit TextGenerator(unsigned seed) : random_(seed) {}

    // Characters chosen to collide: ASCII that equals other characters' trail bytes, the
    // full-width space next to characters ending in 0xA1, four-byte characters with digits.
    std::string Text(int maxCharacters) {
        static const std::vector<std::string> kCharacters = {
            "a",
            "b",
            "A",
            "B",
            "0",
            "4",
            "<",
            ">",
            ",",
            " ",
            "\xB0\x61",
            "\xB0\x41",
            "\xB0\xA1",
            "\xA1\xA1",
            "\xA1\xB0",
            "\x81\x62",
            "\x95\x34\xB2\x35",
            "\x81\x30\x81\x30",
        };
        std::string text;
        const int count = Uniform(0, maxCharacters);
        for (int i = 0; i < count; ++i) {
            text += kCharacters[static_cast<std::size_t>(
                Uniform(0, static_cast<int>(kCharacters.size()) - 1))];
        }
        // Now and then a lead byte cut off by the end of the text.
        if (Uniform(0, 19) == 0) text += "\xB0";
        return text;
    }

    // A needle: often a slice of the text at any byte offset, aligned or not.
    std::string Needle(const std::string& text) {
        if (!text.empty() && Uniform(0, 1) == 0) {
            const int at = Uniform(0, static_cast<int>(text.size()) - 1);
            const int length = Uniform(0, 4);
            return text.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
        }
        return Text(2);
    }

    int Uniform(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    bool Coin() { return Uniform(0, 1) == 1; }

private:
    std::mt19937 random_;
};

std::string Show(const std::string& bytes) {
    std::ostringstream out;
    out << '"';
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out << c;
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            out << "\\x" << kHex[c >> 4] << kHex[c & 15];
        }
    }
    return out.str() + '"';
}

TEST(TextDifferentialTest, SearchesAgreeWithTheNaiveModel) {
    constexpr unsigned kSeed = 0x5EA2C4u;
    constexpr int kRounds = 30000;
    TextGenerator gen(kSeed);
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = gen.Text(24);
        const std::string a = gen.Needle(text);
        const std::string b = gen.Needle(text);
        const int length = static_cast<int>(text.size());
        const int start = gen.Uniform(-2, length + 2);
        const int n = gen.Uniform(-2, length + 2);
        const bool fold = gen.Coin();
        const std::optional<int> reverseStart =
            gen.Coin() ? std::nullopt : std::optional<int>(gen.Uniform(-1, length + 2));
        const int maxCount = gen.Uniform(-1, 4);
        SCOPED_TRACE("round " + std::to_string(round) + " text " + Show(text) + " a " + Show(a) +
                     " b " + Show(b) + " start " + std::to_string(start) + " n " +
                     std::to_string(n));

        ASSERT_EQ(FindText(text, a, start, fold), ModelFind(text, a, start, fold));
        ASSERT_EQ(FindTextReverse(text, a, reverseStart), ModelFindReverse(text, a, reverseStart))
            << "reverse start " << reverseStart.value_or(-99);
        ASSERT_EQ(TextBetween(text, a, b, start, fold), ModelBetween(text, a, b, start, fold));
        ASSERT_EQ(SplitText(text, a, maxCount), ModelSplit(text, a, maxCount))
            << "max count " << maxCount;
        ASSERT_EQ(ReplaceAt(text, start, n, b), ModelReplace(text, start, n, b));
    }
}

}  // namespace
}  // namespace velmora
