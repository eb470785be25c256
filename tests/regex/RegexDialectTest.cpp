// The pattern dialect: what each construct matches, and the constructs that make Create fail.

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "regex/Regex.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

struct DialectCase {
    const char* pattern;  // UTF-8
    const char* subject;  // UTF-8
    int count;
    const char* first;  // the first match, UTF-8
};

void PrintTo(const DialectCase& c, std::ostream* out) {
    *out << "/" << c.pattern << "/ over \"" << c.subject << "\"";
}

class RegexDialect : public testing::TestWithParam<DialectCase> {};

TEST_P(RegexDialect, MatchesAsTheScriptingEngineDoes) {
    const DialectCase& c = GetParam();
    Regex regex;
    ASSERT_TRUE(regex.Create(Utf8ToSystem(c.pattern), Utf8ToSystem(c.subject)));
    EXPECT_EQ(regex.MatchCount(), c.count);
    EXPECT_EQ(SystemToUtf8(regex.GetMatch(1)), c.first);
}

INSTANTIATE_TEST_SUITE_P(Dot, RegexDialect,
                         testing::Values(DialectCase{"a.b", "a\nb a\rb a\tb", 2, "a\rb"},
                                         DialectCase{"<(.*)>", "<x\r\ny>", 0, ""},
                                         DialectCase{".", "中", 1, "中"}));

INSTANTIATE_TEST_SUITE_P(WhiteSpaceAndWordClasses, RegexDialect,
                         testing::Values(DialectCase{"\\s", " \t\r\n\f\v", 6, " "},
                                         DialectCase{"\\s", "\u3000\u00a0", 0, ""},
                                         DialectCase{"a\\Sb", "a\u3000b", 1, "a\u3000b"},
                                         DialectCase{"\\v", "\n\v", 1, "\v"},
                                         DialectCase{"\\w+", "中文abc_1", 1, "abc_1"},
                                         DialectCase{"\\d+", "１２34", 1, "34"},
                                         DialectCase{"\\bab\\b", "ab abc", 1, "ab"}));

INSTANTIATE_TEST_SUITE_P(
    Quantifiers, RegexDialect,
    testing::Values(DialectCase{"<b>(.*?)</b>", "<b>1</b><b>2</b>", 2, "<b>1</b>"},
                    DialectCase{"<b>.*</b>", "<b>1</b><b>2</b>", 1, "<b>1</b><b>2</b>"},
                    DialectCase{"ab??", "ab", 1, "a"}, DialectCase{"a{2,3}?", "aaaa", 2, "aa"},
                    DialectCase{"a{2}", "aaaaa", 2, "aa"},
                    DialectCase{"a{,2}", "a{,2}", 1, "a{,2}"}, DialectCase{"x{", "x{", 1, "x{"},
                    DialectCase{"a}", "a}", 1, "a}"},
                    // After an empty match the search moves on by one character.
                    DialectCase{"x*", "ab", 3, ""}, DialectCase{"a*", "baa", 3, ""},
                    DialectCase{"x*", "电𠀀", 3, ""}));

INSTANTIATE_TEST_SUITE_P(
    Classes, RegexDialect,
    testing::Values(DialectCase{"[a-c]+", "xabcx", 1, "abc"},
                    DialectCase{"[blank>|z]?x", "|x", 1, "|x"},
                    DialectCase{"[\\s|\\S]+", "a\r\nb", 1, "a\r\nb"},
                    DialectCase{"a[]", "a", 0, ""}, DialectCase{"a[^]b", "a\nb", 1, "a\nb"},
                    DialectCase{"[[]", "[", 1, "["}, DialectCase{"[[:alpha:]]", "x] a]", 1, "a]"},
                    DialectCase{"[\\B]", "B", 1, "B"}, DialectCase{"[\\v]", "\n\v", 1, "\v"},
                    DialectCase{"[^电话]+", "电话号码", 1, "号码"}));

INSTANTIATE_TEST_SUITE_P(Escapes, RegexDialect,
                         testing::Values(DialectCase{"\\A\\i\\Q\\z", "AiQz", 1, "AiQz"},
                                         DialectCase{"\\u0041\\x42", "AB", 1, "AB"},
                                         DialectCase{"\\x4g", "x4g", 1, "x4g"},
                                         DialectCase{"\\.\\*", "a.*", 1, ".*"},
                                         DialectCase{"(a)\\1", "aa", 1, "aa"},
                                         DialectCase{"a(?=b)", "ac ab", 1, "a"},
                                         DialectCase{"a(?!b)", "ab ac", 1, "a"},
                                         DialectCase{"(?:ab)+", "ababx", 1, "abab"}));

// The plain characters a pattern begins with are matched apart from the rest (cheap start
// positions): alternatives, quantifiers and classes after them keep their meaning.
INSTANTIATE_TEST_SUITE_P(
    LeadingPlainCharacters, RegexDialect,
    testing::Values(DialectCase{"abc|d", "d", 1, "d"}, DialectCase{"ab*", "a", 1, "a"},
                    DialectCase{"电话+", "电话话", 1, "电话话"},
                    DialectCase{"ab{2}", "abb", 1, "abb"}, DialectCase{"ab[|]c|d", "xd", 1, "d"},
                    DialectCase{"ab(c|d)|e", "e", 1, "e"}, DialectCase{"b\\c\\|a", "a", 1, "a"},
                    DialectCase{"0123456789abcdefg?", "0123456789abcdef", 1, "0123456789abcdef"}));

INSTANTIATE_TEST_SUITE_P(
    Anchors, RegexDialect,
    // Multi-line anchors stop at CR and at LF alike, and at both ends of the subject.
    testing::Values(DialectCase{"^x$", "x\rx\nx\r\nx", 4, "x"},
                    DialectCase{"^\\w+", "ab\rcd", 2, "ab"},
                    DialectCase{"b$", "ab\r\nab", 2, "b"}));

INSTANTIATE_TEST_SUITE_P(CaseInsensitiveByDefault, RegexDialect,
                         testing::Values(DialectCase{"<DIV CLASS=\"MP4\">", "<div class=\"mp4\">",
                                                     1, "<div class=\"mp4\">"},
                                         DialectCase{"[a-c]+", "ABC", 1, "ABC"},
                                         DialectCase{"电话", "电话", 1, "电话"}));

// A pattern's leading plain characters are matched apart from the rest; with its first
// character written as a class it has none, so both must find the same matches and groups.
TEST(RegexDialect, PatternsMatchAsTheyDoWithoutLeadingPlainCharacters) {
    const std::vector<std::string> plain = {"a", "b", "ab", "中", "x"};
    const std::vector<std::string> any = {
        "a",   "b",   "中",  "|",     "(",      ")",     "(?:",  "*",     "+", "?",
        "{2}", "[",   "]",   "[|]",   "[^a]",   "\\",    "\\|",  "\\(",   ".", "^",
        "$",   "\\s", "\\1", "(?=a)", "\\c\\|", "\\c[|", "\\c(", "\\x41", "{", "}"};
    const std::vector<std::string> text = {"a", "b", "A", "中", "|", "(", "x", " ", "\n", "ab"};
    std::mt19937 random(2026);
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    int compared = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string pattern;
        for (int n = 1 + random() % 3; n > 0; --n) pattern += pick(plain);
        for (int n = random() % 7; n > 0; --n) pattern += pick(any);
        const std::size_t first = (pattern[0] & 0x80) != 0 ? 3 : 1;
        const std::string asClass = "[" + pattern.substr(0, first) + "]" + pattern.substr(first);
        std::string subject;
        for (int n = random() % 12; n > 0; --n) subject += pick(text);
        const bool caseSensitive = random() % 2 == 0;
        const bool multiline = random() % 2 == 0;
        Regex split;
        Regex unsplit;
        const bool created =
            split.Create(Utf8ToSystem(pattern), Utf8ToSystem(subject), caseSensitive, multiline);
        ASSERT_EQ(
            unsplit.Create(Utf8ToSystem(asClass), Utf8ToSystem(subject), caseSensitive, multiline),
            created)
            << pattern;
        if (!created) continue;
        ++compared;
        ASSERT_EQ(split.MatchCount(), unsplit.MatchCount()) << pattern << " over " << subject;
        ASSERT_EQ(split.ReplaceMatches("<$&|$1|$2>"), unsplit.ReplaceMatches("<$&|$1|$2>"))
            << pattern << " over " << subject;
    }
    EXPECT_GT(compared, 1000);
}

TEST(RegexDialect, SingleLineAnchorsStopOnlyAtTheSubjectEnds) {
    Regex regex;
    ASSERT_TRUE(regex.Create("^\\w", "ab\ncd", false, false));
    EXPECT_EQ(regex.MatchCount(), 1);
    ASSERT_TRUE(regex.Create("b$", "ab\n", false, false));
    EXPECT_EQ(regex.MatchCount(), 0);
    ASSERT_TRUE(regex.Create("b$", "ab\nab", false, false));
    EXPECT_EQ(regex.MatchCount(), 1);
}

TEST(RegexDialect, RejectedPatternsFailAndReadEmpty) {
    const char* const rejected[] = {
        "(?<name>a)", "(?<=a)b", "(?<!a)b", "(?i)a", "(?#note)a", "(?>a)",
        "(?|a)",      "a*+",     "a++",     "a?+",   "a{2}+",     "(*LIMIT_MATCH=1)a",
        "(a",         "a)",      "a)(b",    "[ab",   "a\\",       "*a",
        "a**",        "(?",      "(a)\\2",
    };
    for (const char* pattern : rejected) {
        Regex regex;
        ASSERT_TRUE(regex.Create("(a)", "a"));
        EXPECT_FALSE(regex.Create(pattern, "a b ab aa")) << pattern;
        EXPECT_EQ(regex.MatchCount(), 0) << pattern;
        EXPECT_EQ(regex.GroupCount(), 0) << pattern;
        EXPECT_EQ(regex.GetMatch(1), "") << pattern;
        EXPECT_EQ(regex.GetSubMatch(1, 1), "") << pattern;
        EXPECT_EQ(regex.ReplaceMatches("x"), "") << pattern;
        EXPECT_EQ(regex.GetPattern(), pattern);
    }
}

}  // namespace
}  // namespace velmora
