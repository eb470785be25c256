// What the search reads off pages and sends to the site, without threads or a network.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/CompanyDetail.h"
#include "search/ListingCrawl.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

struct EncodeCase {
    const char* keywordUtf8;
    bool keepUnreserved;
    const char* encoded;
};

void PrintTo(const EncodeCase& c, std::ostream* out) {
    *out << '"' << c.keywordUtf8 << '"';
}

class EncodeKeywordTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeKeywordTest, PercentEncodesTheUtf8Form) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(EncodeKeyword(Utf8ToSystem(c.keywordUtf8), c.keepUnreserved), c.encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeKeywordTest,
    ::testing::Values(EncodeCase{"a b", true, "a%20b"}, EncodeCase{"中", true, "%E4%B8%AD"},
                      EncodeCase{"_", true, "%5F"}, EncodeCase{"~+", true, "%7E%2B"},
                      EncodeCase{"AZaz09-.", true, "AZaz09-."},
                      EncodeCase{"aZ0-.", false, "%61%5A%30%2D%2E"},
                      EncodeCase{"机械 5", true, "%E6%9C%BA%E6%A2%B0%205"},
                      // Outside the old double-byte set: the four-byte form still reaches UTF-8.
                      EncodeCase{"𠀀", true, "%F0%A0%80%80"}, EncodeCase{"", true, ""},
                      EncodeCase{"%/?&=", true, "%25%2F%3F%26%3D"}));

std::string LinkLine(const std::string& link) {
    return "<div class=\"sup-name\"><a href=\"" + link + "\" target=\"_blank\">X</a></div>\r\n";
}

TEST(CompanyLinksOnPageTest, KeepsRepeatsAndPaddingButNotBlanks) {
    std::string page = "<html>\r\n";
    for (const char* link : {"http://s/1.html", "  http://s/2.html ", "", "   ", "　", "　 ",
                             "http://s/1.html", "　http://s/3.html"}) {
        page += LinkLine(link);
    }
    page += "<div class=\"sup-name\"><a class=\"x\" href=\"http://s/other.html\">Y</a></div>";
    Regex regex;
    const std::vector<Text> links = CompanyLinksOnPage(regex, Utf8ToSystem(page));
    const std::vector<Text> expected{"http://s/1.html", "  http://s/2.html ", "http://s/1.html",
                                     Utf8ToSystem("　http://s/3.html")};
    EXPECT_EQ(links, expected);
}

TEST(CompanyLinksOnPageTest, ReusedRegexForgetsThePreviousPage) {
    Regex regex;
    ASSERT_EQ(CompanyLinksOnPage(regex, LinkLine("http://s/1.html")).size(), 1u);
    EXPECT_TRUE(CompanyLinksOnPage(regex, "no links here").empty());
}

struct CompanyFields {
    std::string name = "华源机械有限公司";
    std::string contact = "王先生";
    std::string telephone = "0571-88886666";
    std::string mobile = "13905710000";
    std::string fax = "0571-88886667";
    std::string emailCell = "sales@hy.com";
    std::string address = "浙江省杭州市余杭区文一西路1号";
    bool withFaxRow = true;
};

// One contact block in the site's markup, CR LF and tabs between its rows.
std::string ContactBlock(const CompanyFields& f) {
    auto row = [](const std::string& label, const std::string& value) {
        return "\t<ul><li class=\"mp6\">" + label + "：</li><li class=\"mp7\">" + value +
               "</li></ul>\r\n";
    };
    return "<div class=\"mp4\"><b>" + f.name + "</b><br><br><span class=\"mtext\">" + f.contact +
           "</span><br><br></div>\r\n<div class=\"mp5\">\r\n" + row("电话", f.telephone) +
           row("手机", f.mobile) + (f.withFaxRow ? row("传真", f.fax) : "") +
           row("邮件", f.emailCell) + row("地址", f.address) + "</div>\r\n";
}

std::optional<ResultRow> Match(const std::string& pageUtf8) {
    return MatchCompanyPage(Utf8ToSystem("<html><body>\r\n" + pageUtf8 + "</body></html>"));
}

TEST(MatchCompanyPageTest, ReadsTheSevenFieldsInColumnOrder) {
    CompanyFields fields;
    fields.fax = "A&amp;B  ";  // entities and blanks stay as written
    const std::optional<ResultRow> row = Match(ContactBlock(fields));
    ASSERT_TRUE(row);
    std::vector<std::string> columns;
    for (const Text* cell : row->Columns()) columns.push_back(SystemToUtf8(*cell));
    const std::vector<std::string> expected{fields.name,   fields.contact, fields.telephone,
                                            fields.mobile, fields.fax,     fields.emailCell,
                                            fields.address};
    EXPECT_EQ(columns, expected);
}

struct EmailCase {
    const char* cell;
    const char* column5;
};

void PrintTo(const EmailCase& c, std::ostream* out) {
    *out << '"' << c.cell << '"';
}

class EmailCellTest : public ::testing::TestWithParam<EmailCase> {};

TEST_P(EmailCellTest, YieldsTheWholeAddress) {
    CompanyFields fields;
    fields.emailCell = GetParam().cell;
    const std::optional<ResultRow> row = Match(ContactBlock(fields));
    ASSERT_TRUE(row);
    EXPECT_EQ(SystemToUtf8(row->email), GetParam().column5);
    EXPECT_EQ(SystemToUtf8(row->address), fields.address) << "the row after it is intact";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmailCellTest,
    ::testing::Values(
        // Addresses beginning with a letter of the set b, l, a, n, k, z, either case, ">" or "|".
        EmailCase{"anna.li@163.com", "anna.li@163.com"},
        EmailCase{"Bella@126.com", "Bella@126.com"}, EmailCase{"kevin@sina.com", "kevin@sina.com"},
        EmailCase{"LEO@139.com", "LEO@139.com"}, EmailCase{"nick@qq.com", "nick@qq.com"},
        EmailCase{"zhao.min@qq.com", "zhao.min@qq.com"}, EmailCase{">x@y.cn", ">x@y.cn"},
        EmailCase{"|x@y.cn", "|x@y.cn"}, EmailCase{"123456@qq.com", "123456@qq.com"},
        EmailCase{" sales@x.cn", " sales@x.cn"}, EmailCase{"", ""},
        // Written as a link: the anchor's text.
        EmailCase{"<a href=\"mailto:bob@x.cn\" target=_blank>bob@x.cn</a>", "bob@x.cn"},
        // A link without target=_blank> has no text to take.
        EmailCase{"<a href=\"mailto:bob@x.cn\">bob@x.cn</a>", ""},
        // Spanning lines: what follows the last line break.
        EmailCase{"\r\nlily@x.cn", "lily@x.cn"}, EmailCase{"old@x.cn\r\n\r\nzoe@x.cn", "zoe@x.cn"},
        EmailCase{"\r\n<a href=\"mailto:amy@x.cn\" target=_blank>amy@x.cn</a>", "amy@x.cn"}));

TEST(MatchCompanyPageTest, TakesTheFirstOfTwoBlocks) {
    CompanyFields first;
    CompanyFields second;
    second.name = "第二公司";
    second.emailCell = "nancy@x.cn";
    const std::optional<ResultRow> row = Match(ContactBlock(first) + ContactBlock(second));
    ASSERT_TRUE(row);
    EXPECT_EQ(SystemToUtf8(row->companyName), first.name);
    EXPECT_EQ(SystemToUtf8(row->email), first.emailCell);
}

TEST(MatchCompanyPageTest, FindsNothingInAChangedBlock) {
    CompanyFields spanning;
    spanning.name = "华源\r\n机械";  // a value never spans lines
    CompanyFields missingFax;
    missingFax.withFaxRow = false;
    EXPECT_FALSE(Match(ContactBlock(spanning)));
    EXPECT_FALSE(Match(ContactBlock(missingFax)));
    EXPECT_FALSE(Match(""));
}

TEST(MatchCompanyPageTest, IgnoresLetterCaseOfTheMarkup) {
    std::string upper = ContactBlock(CompanyFields{});
    for (std::string::size_type at = 0; (at = upper.find("<ul>", at)) != std::string::npos;) {
        upper.replace(at, 4, "<UL>");
    }
    EXPECT_TRUE(Match(upper));
}

TEST(DirectoryBaseUrlTest, OverrideThenEnvironmentThenHost) {
    const char* saved = std::getenv(kSiteVariable);
    const std::string savedValue = saved ? saved : "";
    unsetenv(kSiteVariable);
    const Text fallback = DirectoryBaseUrl();
    setenv(kSiteVariable, "http://127.0.0.1:8080//", 1);
    const Text fromEnvironment = DirectoryBaseUrl();
    const Text fromOverride = DirectoryBaseUrl("http://mirror:81/");
    setenv(kSiteVariable, "", 1);
    const Text fromEmpty = DirectoryBaseUrl();
    if (saved)
        setenv(kSiteVariable, savedValue.c_str(), 1);
    else
        unsetenv(kSiteVariable);

    EXPECT_EQ(fallback, Text("http://") + kDirectoryHost);
    EXPECT_EQ(fromEnvironment, "http://127.0.0.1:8080");
    EXPECT_EQ(fromOverride, "http://mirror:81");
    EXPECT_EQ(fromEmpty, fallback);
    EXPECT_EQ(SearchUrl(fromEnvironment, "a%20b"),
              "http://127.0.0.1:8080/search/index.php?_d=company&_a=company_s_search&f=search"
              "&terms=a%20b");
}

}  // namespace
}  // namespace velmora
