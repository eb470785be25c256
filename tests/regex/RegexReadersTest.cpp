// Flags, 1-based indexes, group rules, positions, copies and failed patterns.

#include <gtest/gtest.h>

#include "regex/Regex.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

TEST(RegexFlags, DefaultsAreCaseInsensitiveMultiLineGlobal) {
    Regex regex;
    EXPECT_TRUE(regex.Create("abc", "ABC abc"));
    EXPECT_EQ(regex.MatchCount(), 2);
    EXPECT_EQ(regex.GetMatch(1), "ABC");

    EXPECT_TRUE(regex.Create("abc", "ABC abc", true));
    EXPECT_EQ(regex.MatchCount(), 1);
    EXPECT_EQ(regex.GetMatch(1), "abc");

    EXPECT_TRUE(regex.Create("^b", "a\nb\rb", false, true));
    EXPECT_EQ(regex.MatchCount(), 2);
    EXPECT_TRUE(regex.Create("^b", "a\nb\rb", false, false));
    EXPECT_EQ(regex.MatchCount(), 0);

    EXPECT_TRUE(regex.Create("a", "aaa", false, true, false));
    EXPECT_EQ(regex.MatchCount(), 1);
}

// Compiled patterns are kept between Creates: each flag keeps its own, and a pattern pushed
// out by many others compiles again with the same result.
TEST(RegexFlags, RepeatedPatternsKeepTheirFlagsAndResults) {
    constexpr int kDistinctPatterns = 100;
    Regex regex;
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(regex.Create("abc", "ABC abc", true));
        EXPECT_EQ(regex.MatchCount(), 1);
        EXPECT_TRUE(regex.Create("abc", "ABC abc", false));
        EXPECT_EQ(regex.MatchCount(), 2);
        for (int n = 0; n < kDistinctPatterns; ++n) {
            const std::string digits = std::to_string(n);
            ASSERT_TRUE(regex.Create("x" + digits + "(y)", "x" + digits + "y x" + digits + "Y"));
            ASSERT_EQ(regex.MatchCount(), 2) << digits;
            ASSERT_EQ(regex.GetSubMatch(2, 1), "Y") << digits;
        }
    }
}

TEST(RegexReaders, NoMatchGivesZeroAndEmptyTexts) {
    Regex regex;
    EXPECT_TRUE(regex.Create("(x)", "abc"));
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.GroupCount(), 0);
    EXPECT_EQ(regex.GetMatch(1), "");
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
    EXPECT_EQ(regex.ReplaceMatches("y"), "abc");
}

TEST(RegexReaders, IndexesAreOneBasedAndOutOfRangeIsEmpty) {
    Regex regex;
    ASSERT_TRUE(regex.Create("(\\d)(\\w)", "1a 2b 3c"));
    ASSERT_EQ(regex.MatchCount(), 3);
    EXPECT_EQ(regex.GroupCount(), 2);
    EXPECT_EQ(regex.GetMatch(1), "1a");
    EXPECT_EQ(regex.GetMatch(3), "3c");
    EXPECT_EQ(regex.GetSubMatch(2, 1), "2");
    EXPECT_EQ(regex.GetSubMatch(2, 2), "b");
    struct {
        int match;
        int group;
    } const outOfRange[] = {{0, 1}, {-1, 1}, {4, 1}, {1, 0}, {1, 3}, {1, -1}, {2, 100}};
    for (auto [match, group] : outOfRange) {
        int position = 7;
        EXPECT_EQ(regex.GetSubMatch(match, group, &position), "") << match << "," << group;
        EXPECT_EQ(position, Regex::kNoPosition);
    }
    for (int match : {0, -5, 4}) {
        int position = 7;
        EXPECT_EQ(regex.GetMatch(match, &position), "") << match;
        EXPECT_EQ(position, Regex::kNoPosition);
    }
}

TEST(RegexReaders, GroupThatTookNoPartIsEmpty) {
    Regex regex;
    ASSERT_TRUE(regex.Create("(a)|(b)", "ba"));
    ASSERT_EQ(regex.MatchCount(), 2);
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
    EXPECT_EQ(regex.GetSubMatch(1, 2), "b");
    EXPECT_EQ(regex.GetSubMatch(2, 1), "a");
    EXPECT_EQ(regex.GetSubMatch(2, 2), "");
    int position = 0;
    EXPECT_EQ(regex.GetSubMatch(1, 1, &position), "");
    EXPECT_EQ(position, Regex::kNoPosition);
    // A back-reference to a group that took no part matches the empty text.
    ASSERT_TRUE(regex.Create("(x)?\\1y", "y"));
    EXPECT_EQ(regex.MatchCount(), 1);
}

TEST(RegexReaders, PositionsAreByteOffsetsInTheSubject) {
    Regex regex;
    ASSERT_TRUE(regex.Create("a", "aaa"));
    for (int i = 1; i <= 3; ++i) {
        int position = -1;
        EXPECT_EQ(regex.GetMatch(i, &position), "a");
        EXPECT_EQ(position, i - 1);
    }
    // Double-byte characters before the match count two bytes each; a four-byte character four.
    Text subject = Utf8ToSystem("名称：甲𠀀乙 <b>电话</b>");
    ASSERT_TRUE(regex.Create("<b>(.*?)</b>", subject));
    int position = -1;
    EXPECT_EQ(regex.GetMatch(1, &position), Utf8ToSystem("<b>电话</b>"));
    EXPECT_EQ(static_cast<size_t>(position), subject.find("<b>"));
    EXPECT_EQ(regex.GetSubMatch(1, 1, &position), Utf8ToSystem("电话"));
    EXPECT_EQ(static_cast<size_t>(position), subject.find("<b>") + 3);
}

TEST(RegexReaders, SecondCreateReplacesTheFirst) {
    Regex regex;
    ASSERT_TRUE(regex.Create("(b)(c)", "abcbc"));
    ASSERT_EQ(regex.MatchCount(), 2);
    ASSERT_TRUE(regex.Create("x", "x"));
    EXPECT_EQ(regex.MatchCount(), 1);
    EXPECT_EQ(regex.GroupCount(), 0);
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
    EXPECT_EQ(regex.GetPattern(), "x");
    EXPECT_EQ(regex.ReplaceMatches("y"), "y");
}

TEST(RegexReaders, FreshObjectReadsEmpty) {
    Regex regex;
    EXPECT_EQ(regex.GetPattern(), "");
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.GroupCount(), 0);
    EXPECT_EQ(regex.GetMatch(1), "");
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
}

TEST(RegexReaders, CopyIsIndependentOfTheOriginal) {
    Regex regex;
    ASSERT_TRUE(regex.Create("(\\w)", "ab"));
    Regex copy = regex.Copy();
    ASSERT_TRUE(regex.Create("z", "q"));
    EXPECT_EQ(copy.MatchCount(), 2);
    EXPECT_EQ(copy.GetSubMatch(2, 1), "b");
    EXPECT_EQ(copy.GetPattern(), "(\\w)");
    EXPECT_EQ(copy.ReplaceMatches("<$1>"), "<a><b>");
    EXPECT_EQ(regex.MatchCount(), 0);
}

TEST(RegexReaders, ChineseTextMatchesCharacterByCharacter) {
    Regex regex;
    Text subject = Utf8ToSystem("联系人：王先生\r\n手机：13800000000\r\n");
    ASSERT_TRUE(regex.Create(Utf8ToSystem("联系人：(.)(.*?)\\r"), subject));
    ASSERT_EQ(regex.MatchCount(), 1);
    EXPECT_EQ(regex.GetSubMatch(1, 1), Utf8ToSystem("王"));
    EXPECT_EQ(regex.GetSubMatch(1, 2), Utf8ToSystem("先生"));
    // A class of Chinese characters takes whole characters, never half of one.
    ASSERT_TRUE(regex.Create(Utf8ToSystem("[手机]+"), subject));
    ASSERT_EQ(regex.MatchCount(), 1);
    EXPECT_EQ(regex.GetMatch(1), Utf8ToSystem("手机"));
    // A character outside CP936 survives the round trip.
    ASSERT_TRUE(regex.Create("<(.)>", Utf8ToSystem("<𠀀>")));
    EXPECT_EQ(regex.GetSubMatch(1, 1), Utf8ToSystem("𠀀"));
}

}  // namespace
}  // namespace velmora
