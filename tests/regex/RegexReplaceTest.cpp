// ReplaceMatches: the replacement syntax, and the whole replaced text coming back.

#include <gtest/gtest.h>

#include <ostream>

#include "regex/Regex.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

struct ReplaceCase {
    const char* pattern;
    const char* subject;
    const char* replacement;
    const char* expected;
};

void PrintTo(const ReplaceCase& c, std::ostream* out) {
    *out << "/" << c.pattern << "/ over \"" << c.subject << "\" with \"" << c.replacement << "\"";
}

class RegexReplace : public testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexReplace, ExpandsTheReplacement) {
    const ReplaceCase& c = GetParam();
    Regex regex;
    ASSERT_TRUE(regex.Create(Utf8ToSystem(c.pattern), Utf8ToSystem(c.subject)));
    EXPECT_EQ(SystemToUtf8(regex.ReplaceMatches(Utf8ToSystem(c.replacement))), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, RegexReplace,
    testing::Values(
        ReplaceCase{"(\\w+)-(\\w+)", "ab-cd", "$2-$1", "cd-ab"},
        ReplaceCase{"b", "abc", "[$&]", "a[b]c"}, ReplaceCase{"b", "abc", "[$`]", "a[a]c"},
        ReplaceCase{"b", "abc", "[$']", "a[c]c"}, ReplaceCase{"b", "abc", "$$", "a$c"},
        ReplaceCase{"b", "abc", "$$1", "a$1c"},
        // Two digits name a group only when there are that many; else one digit and a literal.
        ReplaceCase{"(a)(b)", "ab", "$11", "a1"}, ReplaceCase{"(a)(b)", "ab", "$21", "b1"},
        ReplaceCase{"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "abcdefghijk", "$11$10", "kj"},
        ReplaceCase{"(a)(b)", "ab", "$01", "a"}, ReplaceCase{"(a)(b)", "ab", "$3", "$3"},
        ReplaceCase{"(a)(b)", "ab", "$0", "$0"}, ReplaceCase{"(a)(b)", "ab", "$00", "$00"},
        ReplaceCase{"b", "abc", "$", "a$c"}, ReplaceCase{"b", "abc", "$x", "a$xc"},
        ReplaceCase{"b", "abc", "\\1\\n", "a\\1\\nc"},
        // A group that took no part expands to nothing.
        ReplaceCase{"(x)?b", "abc", "[$1]", "a[]c"}, ReplaceCase{"b", "abc", "", "ac"}));

INSTANTIATE_TEST_SUITE_P(EveryMatch, RegexReplace,
                         testing::Values(ReplaceCase{"o", "foo boo", "0", "f00 b00"},
                                         ReplaceCase{"x*", "ab", "-", "-a-b-"},
                                         ReplaceCase{"x*", "电话", "-", "-电-话-"},
                                         ReplaceCase{"(\\d)", "1a2b3", "<$1$'>",
                                                     "<1a2b3>a<2b3>b<3>"},
                                         ReplaceCase{"zz", "abc", "y", "abc"}));

TEST(RegexReplace, NotGlobalReplacesOnlyTheFirstMatch) {
    Regex regex;
    ASSERT_TRUE(regex.Create("o", "foo", false, true, false));
    EXPECT_EQ(regex.ReplaceMatches("0"), "f0o");
}

TEST(RegexReplace, WholeTextComesBackAfterTheFirstReplacement) {
    Regex regex;
    Text subject = Utf8ToSystem("电话：1\r\n电话：2\r\n电话：3\r\n");
    ASSERT_TRUE(regex.Create(Utf8ToSystem("电话："), subject));
    EXPECT_EQ(regex.ReplaceMatches(Utf8ToSystem("手机：")),
              Utf8ToSystem("手机：1\r\n手机：2\r\n手机：3\r\n"));
    // Chinese text in the replacement and in the groups it names stays whole.
    ASSERT_TRUE(regex.Create(Utf8ToSystem("(地址)：(.*?)\\r"), Utf8ToSystem("地址：北京\r\n")));
    EXPECT_EQ(regex.ReplaceMatches(Utf8ToSystem("$1=$2；")), Utf8ToSystem("地址=北京；\n"));
}

}  // namespace
}  // namespace velmora
