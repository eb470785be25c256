// Searches and cuts: byte positions, the double-byte stepping rule, marker cutting.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

// 0xB0 0xA1 and 0xB0 0x61 are two-byte characters; the second one's trail byte is 'a'.
// 0xA1 0xA1 is the full-width space; 0x95 0x34 0xB2 0x35 is a four-byte character.
const std::string kTrailA = "\xB0\x61";
const std::string kAh = "\xB0\xA1";
const std::string kWideSpace = "\xA1\xA1";
const std::string kFourByte = "\x95\x34\xB2\x35";

struct FindCase {
    const char* name;
    std::string text;
    std::string searched;
    int start;
    bool caseInsensitive;
    int expected;
};

TEST(FindTextTest, PositionsFollowTheDoubleByteWalk) {
    const std::vector<FindCase> cases = {
        {"first ascii", "hello world", "o", 1, false, 5},
        {"from a later start", "hello world", "o", 6, false, 8},
        {"start 0 searches from the first byte", "abcabc", "a", 0, false, 1},
        {"negative start counts as 1", "abcabc", "a", -7, false, 1},
        {"start at the last byte", "abcabc", "c", 6, false, 6},
        {"start past the end", "abc", "c", 4, false, -1},
        {"match ends the text", "abcd", "cd", 1, false, 3},
        {"searched longer than text", "ab", "abc", 1, false, -1},
        {"trail byte is not a position", "xyz" + kTrailA, "a", 1, false, -1},
        {"trail byte pair straddling characters", kAh + kWideSpace, kWideSpace, 1, false, 3},
        {"misaligned pair skipped",
         kAh + "\xA1"
               "x",
         kWideSpace, 1, false, -1},
        {"start inside a character reads from that byte", kAh + kWideSpace, kWideSpace, 2, false,
         2},
        {"four-byte character steps as two pairs", kFourByte + "4", "4", 1, false, 5},
        {"digit inside a four-byte character", kFourByte, "4", 1, false, -1},
        {"character found whole", "ab" + kAh + "c", kAh + "c", 1, false, 3},
        {"lone lead byte at the end", "ab\xB0", "\xB0", 1, false, 3},
        {"empty searched gives 1 from a later start", "0123456789", "", 5, false, 1},
        {"empty searched past the end", "0123456789", "", 11, false, -1},
        {"empty text", "", "a", 1, false, -1},
        {"empty text, empty searched", "", "", 1, false, -1},
        {"case folded", "Hello", "hELLo", 1, true, 1},
        {"case kept without the flag", "Hello", "hELLo", 1, false, -1},
        {"folding leaves trail bytes alone", "\xB0\x41", "\xB0\x61", 1, true, -1},
        {"folding skips trail bytes in the walk", "x" + kTrailA + "A", "a", 1, true, 4},
        {"start on a trail byte reads it as a character", "x" + kTrailA + "A", "a", 3, true, 3},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(FindText(c.text, c.searched, c.start, c.caseInsensitive), c.expected) << c.name;
    }
}

struct ReverseCase {
    const char* name;
    std::string text;
    std::string searched;
    std::optional<int> start;
    int expected;
};

TEST(FindTextReverseTest, LastOccurrenceWithinTheFirstStartMinusOneBytes) {
    const std::vector<ReverseCase> cases = {
        {"whole text", "abcabc", "abc", std::nullopt, 4},
        {"overlapping occurrences", "aaaa", "aa", std::nullopt, 3},
        {"must lie wholly inside", "abcabc", "abc", 6, 1},
        {"exactly fits", "abcabc", "abc", 7, 4},
        {"too short a range", "abcabc", "abc", 3, -1},
        {"start 1", "abc", "a", 1, -1},
        {"start 0", "abc", "a", 0, -1},
        {"start past the end is the whole text", "abcabc", "c", 100, 6},
        {"pair aligned by the walk", kAh + kWideSpace, kWideSpace, std::nullopt, 3},
        {"misaligned pair skipped",
         kAh + "\xA1"
               "x",
         kWideSpace, std::nullopt, -1},
        {"trail byte is not a position", "a" + kTrailA, "a", std::nullopt, 1},
        {"empty searched", "abc", "", std::nullopt, 1},
        {"empty text", "", "a", std::nullopt, -1},
    };
    for (const ReverseCase& c : cases) {
        EXPECT_EQ(FindTextReverse(c.text, c.searched, c.start), c.expected) << c.name;
    }
    EXPECT_EQ(FindTextReverse("ABCabc", "abc", std::nullopt, true), 4);
    EXPECT_EQ(FindTextReverse("ABCxyz", "abc", std::nullopt, true), 1);
}

struct BetweenCase {
    const char* name;
    std::string text;
    std::string startMarker;
    std::string endMarker;
    int startPos;
    std::string expected;
};

TEST(TextBetweenTest, CutsBetweenTheFirstMarkers) {
    const std::vector<BetweenCase> cases = {
        {"plain", "<b>name</b>", "<b>", "</b>", 0, "name"},
        {"first pair wins", "<b>1</b><b>2</b>", "<b>", "</b>", 0, "1"},
        {"end marker before the start marker is ignored", "</b>x<b>y</b>", "<b>", "</b>", 0, "y"},
        {"start marker missing though end present", "x</b>", "<b>", "</b>", 0, ""},
        {"end marker missing", "<b>x", "<b>", "</b>", 0, ""},
        {"empty end marker", "<b>x</b>", "<b>", "", 0, ""},
        {"markers adjacent", "<b></b>", "<b>", "</b>", 0, ""},
        {"start position skips earlier markers", "[1]....[2]", "[", "]", 5, "2"},
        {"marker letter as trail byte is skipped", "x" + kTrailA + "a1b", "a", "b", 0, "1"},
        {"double-byte markers",
         "\xC3\xFB\xB3\xC6"
         ":" +
             kAh + kWideSpace,
         "\xC3\xFB\xB3\xC6"
         ":",
         kWideSpace, 0, kAh},
    };
    for (const BetweenCase& c : cases) {
        EXPECT_EQ(TextBetween(c.text, c.startMarker, c.endMarker, c.startPos), c.expected)
            << c.name;
    }
    EXPECT_EQ(TextBetween("<B>x</b>", "<b>", "</B>", 0, true), "x");
    EXPECT_EQ(TextBetween("<B>x</b>", "<b>", "</B>"), "");
}

TEST(TextBetweenTest, LooksForMarkersFromTheGivenByteOfALongPage) {
    const Text pageCount = Utf8ToSystem("共");
    const Text pageUnit = Utf8ToSystem("页");
    // A decoy early in the page, the real markers past byte 10000.
    const Text page = ConcatText(pageCount, "1", pageUnit, std::string(10000, 'x'), pageCount, "37",
                                 pageUnit, "\r\n");
    EXPECT_EQ(TextBetween(page, pageCount, pageUnit, 10000), "37");
    EXPECT_EQ(TextBetween(page, pageCount, pageUnit), "1");
}

struct CutCase {
    const char* name;
    Text result;
    Text expected;
};

TEST(CutTest, LeftRightMidAndReplaceAtClampAtTheEdges) {
    const std::string t = "abcdef";
    const std::vector<CutCase> cases = {
        {"left", LeftText(t, 2), "ab"},
        {"left beyond", LeftText(t, 99), t},
        {"left 0", LeftText(t, 0), ""},
        {"left negative", LeftText(t, -1), ""},
        {"right", RightText(t, 2), "ef"},
        {"right beyond", RightText(t, 99), t},
        {"right 0", RightText(t, 0), ""},
        {"mid", MidText(t, 2, 3), "bcd"},
        {"mid cut at end", MidText(t, 5, 10), "ef"},
        {"mid at length", MidText(t, 6, 1), "f"},
        {"mid at length + 1", MidText(t, 7, 1), ""},
        {"mid start 0", MidText(t, 0, 2), ""},
        {"mid n 0", MidText(t, 2, 0), ""},
        {"replace", ReplaceAt(t, 2, 3, "XY"), "aXYef"},
        {"replace without replacement deletes", ReplaceAt(t, 2, 3), "aef"},
        {"replace start 0 counts as 1", ReplaceAt(t, 0, 1, "X"), "Xbcdef"},
        {"replace start negative counts as 1", ReplaceAt(t, -5, 2), "cdef"},
        {"replace past the end appends", ReplaceAt(t, 99, 3, "X"), "abcdefX"},
        {"replace at length + 1 appends", ReplaceAt(t, 7, 3, "X"), "abcdefX"},
        {"deletion cut at the end", ReplaceAt(t, 5, 99, "X"), "abcdX"},
        {"n 0 inserts only", ReplaceAt(t, 3, 0, "X"), "abXcdef"},
        {"n negative inserts only", ReplaceAt(t, 3, -4, "X"), "abXcdef"},
        {"empty text", ReplaceAt("", 1, 1, "X"), "X"},
    };
    for (const CutCase& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
}

struct SplitCase {
    const char* name;
    std::string text;
    std::string separator;
    int maxCount;
    std::vector<Text> expected;
};

TEST(SplitTextTest, PiecesBetweenSeparators) {
    const std::vector<SplitCase> cases = {
        {"plain", "a,b,c", ",", kNoLimit, {"a", "b", "c"}},
        {"empty piece between separators kept", "a,,b", ",", kNoLimit, {"a", "", "b"}},
        {"empty first piece kept", ",a", ",", kNoLimit, {"", "a"}},
        {"empty last piece dropped", "a,b,", ",", kNoLimit, {"a", "b"}},
        {"only separators", ",,", ",", kNoLimit, {"", ""}},
        {"no separator", "abc", ",", kNoLimit, {"abc"}},
        {"max count drops the rest", "a,b,c,d", ",", 2, {"a", "b"}},
        {"max count 0", "a,b", ",", 0, {}},
        {"max count above the pieces", "a,b", ",", 9, {"a", "b"}},
        {"empty separator gives the whole text", "a,b", "", kNoLimit, {"a,b"}},
        {"empty text", "", ",", kNoLimit, {}},
        {"empty text, empty separator", "", "", kNoLimit, {}},
        {"long separator", "a<>b<>", "<>", kNoLimit, {"a", "b"}},
        {"separator as a trail byte is skipped",
         "x" + kTrailA + "ay",
         "a",
         kNoLimit,
         {"x" + kTrailA, "y"}},
        {"double-byte separator aligned by the walk",
         kAh + kWideSpace + "z",
         kWideSpace,
         kNoLimit,
         {kAh, "z"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitText(c.text, c.separator, c.maxCount), c.expected) << c.name;
    }
    EXPECT_EQ(SplitText("a,b"), (std::vector<Text>{"a", "b"}));
}

}  // namespace
}  // namespace velmora
