// The work bounds: hostile pages end the search early, keeping the matches found before the
// bound; large real pages are searched to their end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "tests/regex/SamplePages.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

void ExpectBoundHit(Regex& regex, const Text& pattern, const Text& subject) {
    // A successful Create first, so the test also sees its results go.
    ASSERT_TRUE(regex.Create("(a)", "a"));
    EXPECT_FALSE(regex.Create(pattern, subject));
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.GroupCount(), 0);
    EXPECT_EQ(regex.GetMatch(1), "");
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
}

TEST(RegexBound, CatastrophicBacktrackingFails) {
    std::string subject = std::string(40, 'a') + "!";
    for (const char* pattern : {"(a+)+$", "(a|aa)+$", "(\\w+\\s?)+$", "^(\\w+\\s?)*$"}) {
        Regex regex;
        ExpectBoundHit(regex, pattern, subject);
    }
}

TEST(RegexBound, HostileCompanyPagesFail) {
    const Text& pattern = CompanyDetailPattern();
    Regex regex;
    ExpectBoundHit(regex, pattern, Utf8ToSystem(sample::HostileCompanyPage(2000, 1 << 20)));
    // One opener followed by a long page of rows that never reach an address row.
    std::string rows;
    while (rows.size() < 600 * 1024) rows += sample::ContactRow("邮件", "x@example.cn");
    ExpectBoundHit(regex, pattern,
                   Utf8ToSystem(sample::CompanyBlock(sample::Company{}, false) + rows));
    // The object is usable again at once.
    ASSERT_TRUE(regex.Create(pattern, Utf8ToSystem(sample::CompanyPage(sample::Company{}))));
    EXPECT_EQ(regex.MatchCount(), 1);
}

TEST(RegexBound, ManyCheapStartPositionsSpendTheBudget) {
    // Each start position stays under the step limit, but together they take seconds.
    std::string subject;
    for (int line = 0; line < 2000; ++line) subject += std::string(100, 'a') + "\n";
    Regex regex;
    ExpectBoundHit(regex, "a*a*a*(?:b|c)", subject);
}

TEST(RegexBound, MatchesBeforeTheBoundAreKept) {
    sample::Company first;
    first.name = "第一公司";
    sample::Company second;
    second.name = "第二公司";
    // Two real blocks, then block openers to the end of a 1 MB line: each costs a long search.
    std::string page = sample::CompanyBlock(first) + sample::CompanyBlock(second);
    while (page.size() < (1 << 20)) page += "<div class=\"mp4\"><b>";
    Regex regex;
    ASSERT_FALSE(regex.Create(CompanyDetailPattern(), Utf8ToSystem(page)));
    ASSERT_EQ(regex.MatchCount(), 2);
    EXPECT_EQ(regex.GroupCount(), 7);
    EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(1, 1)), "第一公司");
    EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(2, 1)), "第二公司");
    int position = 0;
    EXPECT_EQ(regex.GetMatch(1, &position),
              Utf8ToSystem(page.substr(0, page.find("</ul>\r\n</div>") + 5)));
    EXPECT_EQ(position, 0);
    EXPECT_EQ(regex.GetSubMatch(3, 1), "");
    // Only some of the matches replaced would pass for a whole replacement.
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
}

TEST(RegexBound, LongRepetitionsOfAGroupStillMatch) {
    std::string subject = std::string(200000, 'a') + "c";
    for (const char* pattern : {"(?:a|b)*c", "(a|b)*?c", "^(a|ab)+c"}) {
        Regex regex;
        ASSERT_TRUE(regex.Create(pattern, subject)) << pattern;
        EXPECT_EQ(regex.MatchCount(), 1) << pattern;
        EXPECT_EQ(regex.GetMatch(1).size(), subject.size()) << pattern;
    }
}

TEST(RegexBound, LargeRealPagesAreSearchedToTheirEnd) {
    std::vector<std::string> links;
    for (int i = 0; i < 3000; ++i) links.push_back("/company/" + std::to_string(i) + ".html");
    Regex regex;
    ASSERT_TRUE(
        regex.Create(CompanyLinkPattern(), Utf8ToSystem(sample::ResultPage(links, 1 << 20))));
    ASSERT_EQ(regex.MatchCount(), 3000);
    EXPECT_EQ(regex.GetSubMatch(3000, 1), "/company/2999.html");

    // A contact block at the start of a page of 16 MB, or near the end of one of 1 MB.
    const Text& pattern = CompanyDetailPattern();
    ASSERT_TRUE(regex.Create(
        pattern, Utf8ToSystem(sample::CompanyBlock(sample::Company{}) + sample::Filler(16 << 20))));
    EXPECT_EQ(regex.MatchCount(), 1);
    ASSERT_TRUE(
        regex.Create(pattern, Utf8ToSystem(sample::CompanyPage(sample::Company{}, 1 << 20))));
    EXPECT_EQ(regex.MatchCount(), 1);
}

}  // namespace
}  // namespace velmora
