// The generated pages against the patterns and markers the crawl and the extraction read, in
// the system code page as the client sees them after decoding.

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "text/CodePage.h"
#include "text/TextOps.h"
#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

// The contact block as the site writes it; the e-mail cell is taken whole (group 6) so that
// the address can be read from it independently of any extractor.
const char* const kContactPattern =
    R"(<div class="mp4"><b>(.*?)</b><br><br><span class="mtext">(.*?)</span><br><br></div>)"
    R"([\s]*?<div class="mp5">[\s]*?<ul><li class="mp6">电话：</li><li class="mp7">(.*?)</li></ul>)"
    R"([\s]*?<ul><li class="mp6">手机：</li><li class="mp7">(.*?)</li></ul>)"
    R"([\s]*?<ul><li class="mp6">传真：</li><li class="mp7">(.*?)</li></ul>)"
    R"([\s]*?<ul><li class="mp6">邮件：</li><li class="mp7">([\s\S]*?)</li></ul>)"
    R"([\s]*?<ul><li class="mp6">地址：</li><li class="mp7">(.*?)</li></ul>)";

constexpr std::string_view kBaseUrl = "http://127.0.0.1:8080";

std::string RenderPage(std::string_view keyword, int page, int pages, int linksPerPage,
                       Markup markup = Markup::Regular) {
    ResultPageParams params;
    params.keyword = keyword;
    params.page = page;
    params.pages = pages;
    params.linksPerPage = linksPerPage;
    params.baseUrl = kBaseUrl;
    params.markup = markup;
    return RenderResultPage(params);
}

std::string RenderCompany(std::string_view keyword, int number, std::size_t minimumBytes = 30000,
                          Markup markup = Markup::Regular) {
    CompanyPageParams params;
    params.seed = KeywordSeed(keyword);
    params.number = number;
    params.minimumBytes = minimumBytes;
    params.markup = markup;
    return RenderCompanyPage(params);
}

std::vector<std::string> Links(const Text& page) {
    Regex regex;
    EXPECT_TRUE(regex.Create(CompanyLinkPattern(), page));
    std::vector<std::string> links;
    for (int m = 1; m <= regex.MatchCount(); ++m) links.push_back(regex.GetSubMatch(m, 1));
    return links;
}

// Every line ends with CR LF and nothing else: no bare LF, no bare CR.
bool HasOnlyCrlfLines(const std::string& page) {
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\n' && (i == 0 || page[i - 1] != '\r')) return false;
        if (page[i] == '\r' && (i + 1 == page.size() || page[i + 1] != '\n')) return false;
    }
    return !page.empty() && page.ends_with("\r\n");
}

bool IsValidUtf8(const std::string& text) {
    return SystemToUtf8(Utf8ToSystem(text)) == text &&
           text.find("\xEF\xBF\xBD") == std::string::npos;
}

const Text kPageCountMarker = Utf8ToSystem("页次: 1/");
const Text kTotalMarker = Utf8ToSystem("总数: ");
constexpr std::string_view kMarkerEnd = "&nbsp;&nbsp;";

struct ListingCase {
    const char* keyword;
    int pages;
    int linksPerPage;
};

void PrintTo(const ListingCase& c, std::ostream* out) {
    *out << '"' << c.keyword << "\", " << c.pages << " pages of " << c.linksPerPage;
}

class ResultPageTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ResultPageTest, MarkersLiePastTheSearchStartAndAgreeWithTheLinks) {
    const ListingCase& c = GetParam();
    std::string first = RenderPage(c.keyword, 1, c.pages, c.linksPerPage);
    EXPECT_TRUE(HasOnlyCrlfLines(first));
    EXPECT_TRUE(IsValidUtf8(first));
    Text page = Utf8ToSystem(first);
    EXPECT_GT(FindText(page, kPageCountMarker), static_cast<int>(kMarkerSearchStart));
    EXPECT_GT(FindText(page, kTotalMarker), static_cast<int>(kMarkerSearchStart));
    EXPECT_EQ(ToInteger(TextBetween(page, kPageCountMarker, kMarkerEnd, 10000)), c.pages);
    EXPECT_EQ(TextBetween(page, kTotalMarker, kMarkerEnd, 10000),
              std::to_string(c.pages * c.linksPerPage));

    // Every page lists its own companies; together they number the hits, each once.
    std::uint64_t seed = KeywordSeed(c.keyword);
    std::set<std::string> seen;
    for (int n = 1; n <= c.pages; ++n) {
        Text listing = Utf8ToSystem(RenderPage(c.keyword, n, c.pages, c.linksPerPage));
        std::vector<std::string> links = Links(listing);
        ASSERT_EQ(links.size(), static_cast<std::size_t>(c.linksPerPage)) << "page " << n;
        for (int i = 0; i < c.linksPerPage; ++i) {
            int number = (n - 1) * c.linksPerPage + i + 1;
            EXPECT_EQ(links[static_cast<std::size_t>(i)],
                      std::string(kBaseUrl) + CompanyTarget(seed, number));
        }
        seen.insert(links.begin(), links.end());
        std::string pageNumbers = Utf8ToSystem("页次: ") + std::to_string(n) + "/" +
                                  std::to_string(c.pages) + std::string(kMarkerEnd);
        EXPECT_GT(FindText(listing, pageNumbers), static_cast<int>(kMarkerSearchStart));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(c.pages * c.linksPerPage));
}

INSTANTIATE_TEST_SUITE_P(Listings, ResultPageTest,
                         ::testing::Values(ListingCase{"机械", 3, 20}, ListingCase{"a b", 1, 1},
                                           ListingCase{"", 2, 5}, ListingCase{"pump-valve.", 5, 0},
                                           ListingCase{"中<script>&\"'", 4, 7}),
                         [](const ::testing::TestParamInfo<ListingCase>& param) {
                             return "Listing" + std::to_string(param.index);
                         });

TEST(ResultPage, NothingFoundCarriesNeitherMarkerNorLink) {
    for (std::string keyword : {"机械", "zzz"}) {
        Text page = Utf8ToSystem(RenderPage(keyword, 1, 0, 20));
        EXPECT_GT(page.size(), kMarkerSearchStart);
        EXPECT_EQ(FindText(page, kTotalMarker), -1);
        EXPECT_EQ(FindText(page, kPageCountMarker), -1);
        EXPECT_TRUE(Links(page).empty());
        EXPECT_NE(FindText(page, Utf8ToSystem("没有找到")), -1);
    }
}

TEST(ResultPage, PagesBeyondTheLastListNothingButKeepThePager) {
    Text page = Utf8ToSystem(RenderPage("机械", 9, 3, 20));
    EXPECT_TRUE(Links(page).empty());
    EXPECT_EQ(TextBetween(page, kTotalMarker, kMarkerEnd, 10000), "60");
}

TEST(ResultPage, MarkupVariantsHideWhatTheyShould) {
    struct Case {
        Markup markup;
        const char* pageCount;
        const char* total;
        std::size_t links;
    } cases[] = {
        {Markup::Regular, "3", "60", 20},
        {Markup::Changed, "", "", 0},
        {Markup::WithoutPageCount, "", "60", 20},
        {Markup::Short, "", "", 20},
        {Markup::TwoBlocks, "3", "60", 20},  // a company-page variant: result pages stay
        {Markup::EndlessCount, "99999999999", "60", 20},
        {Markup::ManyLinks, "3", "60", 20},
        {Markup::ControlBytes, "3", "<b>60</b>\x1b]0;owned\x07\x1b[31m", 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.markup));
        std::string html = RenderPage("机械", 1, 3, 20, c.markup);
        EXPECT_TRUE(HasOnlyCrlfLines(html));
        Text page = Utf8ToSystem(html);
        EXPECT_EQ(TextBetween(page, kPageCountMarker, kMarkerEnd, 10000), c.pageCount);
        EXPECT_EQ(TextBetween(page, kTotalMarker, kMarkerEnd, 10000), c.total);
        EXPECT_EQ(Links(page).size(), c.links);
    }
    // A short page still has both markers, only before the byte the crawl starts from.
    Text shortPage = Utf8ToSystem(RenderPage("机械", 1, 3, 20, Markup::Short));
    EXPECT_EQ(TextBetween(shortPage, kPageCountMarker, kMarkerEnd, 1), "3");
    EXPECT_EQ(TextBetween(shortPage, kTotalMarker, kMarkerEnd, 1), "60");
    EXPECT_LT(Utf8ToSystem(RenderPage("机械", 1, 3, 1, Markup::Short)).size(), kMarkerSearchStart);
}

TEST(ResultPage, KeywordIsEchoedEscapedAndAsValidText) {
    std::string page = RenderPage("<b>\"x\"</b>\xFF\xE4\xB8", 1, 1, 1);
    EXPECT_EQ(page.find("<b>\"x\""), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;&quot;x&quot;&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(SystemToUtf8(Utf8ToSystem(page)), page);  // malformed bytes were replaced
}

// The address as a reader of the e-mail cell finds it: after a line break, or as a link's text.
std::string AddressInCell(std::string cell) {
    if (cell.starts_with("\r\n")) cell.erase(0, 2);
    if (cell.find("href") != std::string::npos) {
        return TextBetween(cell, "target=_blank>", "</a>");
    }
    return cell;
}

TEST(CompanyPage, ContactBlockCarriesTheCompanysFields) {
    std::set<EmailMarkup> markups;
    for (std::string keyword : {"机械", "pump", ""}) {
        std::uint64_t seed = KeywordSeed(keyword);
        for (int number = 1; number <= 60; ++number) {
            SCOPED_TRACE(keyword + " #" + std::to_string(number));
            std::string html = RenderCompany(keyword, number);
            ASSERT_TRUE(HasOnlyCrlfLines(html));
            ASSERT_TRUE(IsValidUtf8(html));
            CompanyRecord company = GenerateCompany(seed, number);
            Text page = Utf8ToSystem(html);
            Regex regex;
            ASSERT_TRUE(regex.Create(Utf8ToSystem(kContactPattern), page));
            ASSERT_EQ(regex.MatchCount(), 1);
            const std::vector<std::string> expected{company.companyName, company.contact,
                                                    company.telephone, company.mobile, company.fax};
            for (int group = 1; group <= 5; ++group) {
                EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(1, group)),
                          expected[static_cast<std::size_t>(group - 1)]);
            }
            EXPECT_EQ(SystemToUtf8(AddressInCell(regex.GetSubMatch(1, 6))), company.email);
            EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(1, 7)), company.address);
            if (!company.email.empty()) markups.insert(EmailMarkupOf(seed, number));

            // The program's own pattern must match every page as well.
            Regex directory;
            ASSERT_TRUE(directory.Create(CompanyDetailPattern(), page));
            EXPECT_EQ(directory.MatchCount(), 1);
            EXPECT_EQ(SystemToUtf8(directory.GetSubMatch(1, 7)), company.address);
        }
    }
    EXPECT_EQ(markups.size(), 3u);
}

TEST(CompanyPage, MarkupVariantsChangeTheContactBlocks) {
    struct Case {
        Markup markup;
        int matches;
    } cases[] = {{Markup::Regular, 1},   {Markup::Changed, 0},          {Markup::TwoBlocks, 2},
                 {Markup::Short, 1},     {Markup::WithoutPageCount, 1}, {Markup::EndlessCount, 1},
                 {Markup::ManyLinks, 1}, {Markup::ControlBytes, 1}};
    std::uint64_t seed = KeywordSeed("机械");
    for (const Case& c : cases) {
        Regex regex;
        ASSERT_TRUE(regex.Create(CompanyDetailPattern(),
                                 Utf8ToSystem(RenderCompany("机械", 4, 30000, c.markup))));
        EXPECT_EQ(regex.MatchCount(), c.matches) << static_cast<int>(c.markup);
        for (int m = 1; m <= regex.MatchCount(); ++m) {
            CompanyRecord company = GenerateCompany(seed, 4 + m - 1);
            if (c.markup == Markup::ControlBytes) company = WithControlBytes(company);
            EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(m, 1)), company.companyName);
            EXPECT_EQ(SystemToUtf8(regex.GetSubMatch(m, 7)), company.address);
        }
    }
}

TEST(CompanyPage, SizeFollowsTheMinimum) {
    for (std::size_t minimum : {0u, 5000u, 30000u, 100000u}) {
        std::string page = RenderCompany("机械", 1, minimum);
        EXPECT_GE(page.size(), minimum);
        EXPECT_LT(page.size(), std::max<std::size_t>(minimum, 12000) + 1024) << minimum;
    }
}

TEST(Generation, SameKeywordSameCompaniesOtherKeywordOthers) {
    EXPECT_EQ(RenderPage("机械", 2, 5, 20), RenderPage("机械", 2, 5, 20));
    EXPECT_EQ(RenderCompany("机械", 7), RenderCompany("机械", 7));
    EXPECT_NE(RenderCompany("机械", 7), RenderCompany("机械", 8));
    int differing = 0;
    for (int number = 1; number <= 20; ++number) {
        CompanyRecord a = GenerateCompany(KeywordSeed("机械"), number);
        CompanyRecord b = GenerateCompany(KeywordSeed("五金"), number);
        differing += a.companyName != b.companyName || a.telephone != b.telephone;
    }
    EXPECT_GE(differing, 18);
}

// The generated directory has what real ones have and extractors stumble over.
TEST(Generation, FieldsCoverTheAwkwardCases) {
    std::set<char> firstLetters;
    int emptyFax = 0, plusMobile = 0, emptyEmail = 0, outsideTwoByte = 0;
    std::uint64_t seed = KeywordSeed("机械");
    for (int number = 1; number <= 400; ++number) {
        CompanyRecord company = GenerateCompany(seed, number);
        ASSERT_TRUE(company.telephone.starts_with("0")) << company.telephone;
        ASSERT_FALSE(company.companyName.empty());
        ASSERT_FALSE(company.address.empty());
        if (company.fax.empty()) ++emptyFax;
        if (company.mobile.starts_with("+86")) ++plusMobile;
        if (company.email.empty()) {
            ++emptyEmail;
        } else {
            firstLetters.insert(company.email[0]);
        }
        // A character beyond the basic plane, four bytes in the system code page too.
        if (company.companyName.find('\xF0') != std::string::npos) ++outsideTwoByte;
    }
    for (char letter : std::string("abklnzABKLNZ")) {
        EXPECT_EQ(firstLetters.count(letter), 1u) << letter;
    }
    EXPECT_GT(emptyFax, 0);
    EXPECT_GT(plusMobile, 0);
    EXPECT_GT(emptyEmail, 0);
    EXPECT_GT(outsideTwoByte, 0);
}

TEST(SearchTarget, EncodesTheKeywordByteForByte) {
    struct Case {
        const char* keyword;
        int page;
        const char* query;
    } cases[] = {
        {"a b", 0, "a%20b"},         {"中", 0, "%E4%B8%AD"}, {"_~+", 0, "%5F%7E%2B"},
        {"Az09-.", 3, "Az09-.&p=3"}, {"", 12, "&p=12"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SearchTarget(c.keyword, c.page),
                  "/search/index.php?_d=company&_a=company_s_search&f=search&terms=" +
                      std::string(c.query));
    }
}

TEST(PercentDecode, UndoesEscapesAndKeepsBrokenOnes) {
    struct Case {
        const char* encoded;
        const char* decoded;
    } cases[] = {
        {"%E4%B8%AD", "中"}, {"a%20b", "a b"},   {"%e4%b8%ad", "中"}, {"100%", "100%"},
        {"%4", "%4"},        {"%zz%41", "%zzA"}, {"+", "+"},
    };
    for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.encoded), std::string(c.decoded));
    EXPECT_EQ(PercentDecode("%00x"), std::string("\0x", 2));
}

TEST(SystemLength, LowerBoundNeverExceedsTheConvertedLength) {
    for (std::string text : {"abc", "机械", "𠮷利", "a中b\xC3\xA9", ""}) {
        EXPECT_LE(SystemLengthLowerBound(text), Utf8ToSystem(text).size()) << text;
    }
    EXPECT_EQ(SystemLengthLowerBound("a中b"), 4u);
}

}  // namespace
}  // namespace velmora::site
