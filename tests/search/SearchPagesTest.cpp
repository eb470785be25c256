// What the search reads off pages and sends to the site, and where the site is, without threads
// or a network.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "search/DirectorySite.h"
#include "tests/ScopedVariable.h"
#include "tests/ScratchFolder.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"

namespace velmora {
namespace {

using testing::ScopedVariable;

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

TEST(PageCountOfTest, ReadsTheCountAndBelievesNoMoreThanTheMaximum) {
    const std::string chrome(kMarkerSearchStart, ' ');
    constexpr int kUnreadable = -1;
    struct Case {
        const char* claimed;
        int read;
    } cases[] = {{"7", 7},
                 {"10000", kMaxPageCount},
                 {"10001", kMaxPageCount},
                 {"2147483648", kMaxPageCount},
                 {"99999999999", kMaxPageCount},
                 {" 0", 0},
                 {"x", kUnreadable},
                 {"-3", kUnreadable},
                 {"", kUnreadable}};
    for (const Case& c : cases) {
        EXPECT_EQ(PageCountOf(Utf8ToSystem(chrome + "页次: 1/" + c.claimed + "&nbsp;&nbsp;"))
                      .value_or(kUnreadable),
                  c.read)
            << c.claimed;
    }
    EXPECT_EQ(PageCountOf(Utf8ToSystem(chrome)), std::nullopt);
}

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

// Matching the page in UTF-8 gives what matching its system-code-page text gives: the sample
// site's pages of every markup, and the same pages with malformed bytes and characters the
// system code page does not hold put in at random places (seeded).
TEST(MatchInUtf8Test, GivesWhatMatchingTheSystemTextGives) {
    const std::uint64_t seed = site::KeywordSeed("机械");
    std::vector<std::string> pages;
    for (const site::Markup markup : {site::Markup::Regular, site::Markup::Changed,
                                      site::Markup::TwoBlocks, site::Markup::ControlBytes}) {
        for (int number = 1; number <= 8; ++number) {
            pages.push_back(site::RenderCompanyPage({seed, number, 30000, markup}));
        }
        pages.push_back(site::RenderResultPage({"机械", 2, 10, 20, "http://s", markup}));
    }
    std::mt19937 random(0xFA6Eu);
    const std::vector<std::string> strays = {"\xFF",         "\xE4\xB8",         "\xED\xA0\x80",
                                             "\xEE\x80\x80", "\xF0\x9F\x98\x80", "\xC0\xAF"};
    for (std::size_t i = 0, count = pages.size(); i < count; ++i) {
        std::string page = pages[i];
        for (int k = 0; k < 40; ++k)
            page.insert(random() % page.size(), strays[random() % strays.size()]);
        pages.push_back(page);
    }
    Regex regex;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        const Text system = Utf8ToSystem(pages[i]);
        const SystemUtf8 utf8 = SystemUtf8::FromUtf8(pages[i]);
        EXPECT_EQ(MatchCompanyPage(utf8).row, MatchCompanyPage(system).row);
        EXPECT_EQ(CompanyLinksOnPage(regex, utf8), CompanyLinksOnPage(regex, system));
        EXPECT_EQ(utf8.ToSystem(), system);
    }
}

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
    return MatchCompanyPage(Utf8ToSystem("<html><body>\r\n" + pageUtf8 + "</body></html>")).row;
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

// A settings folder of the test's own as the user's configuration folder, and no VELMORA_SITE.
class DirectorySiteTest : public ::testing::Test {
protected:
    DirectorySiteTest() {
        config_.emplace(kConfigFolderVariable, Utf8FromPath(folder_).c_str());
        std::filesystem::create_directory(folder_ / "velmora");
    }

    std::filesystem::path SettingsFile() const { return folder_ / "velmora" / "velmora.conf"; }
    void WriteSettings(const std::string& text) const {
        std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << text;
    }

    const Text builtIn_ = Text("http://") + kDirectoryHost;
    test::ScratchFolder scratch_{"velmora-settings"};
    const std::filesystem::path& folder_ = scratch_.path();
    ScopedVariable site_{kSiteVariable, nullptr};
    std::optional<ScopedVariable> config_;
};

TEST_F(DirectorySiteTest, SettingsFileNamesTheSiteOrIsReportedWithTheBuiltInHostUsed) {
    struct Case {
        const char* content;  // nullptr: no file
        const char* baseUrl;  // nullptr: the built-in one
        const char* invalid;  // the site value reported as invalid; nullptr: nothing reported
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr},
        {"# only a comment\n\n", nullptr, nullptr},
        {"site=http://127.0.0.1:8080/\n", "http://127.0.0.1:8080", nullptr},
        {"# mirror\r\n  site = HTTPS://Mirror.example:8443/dir//  \r\n",
         "HTTPS://Mirror.example:8443/dir", nullptr},
        {"site=http://a.example\ncolour=blue\nsite=http://b.example", "http://b.example", nullptr},
        {"site=ftp://h.example\n", nullptr, "ftp://h.example"},
        {"site=\n", nullptr, ""},
        {"site=http://\n", nullptr, "http://"},
        {"site=http://h.example:0\n", nullptr, "http://h.example:0"},
        // What the HTTP client's URL parser lets through: no scheme, a port it sets aside.
        {"site=h.example\n", nullptr, "h.example"},
        {"site=http://h.example:/dir\n", nullptr, "http://h.example:/dir"},
        {"site=http://h.example:8a\n", nullptr, "http://h.example:8a"},
        {"site=http://h.example:5/dir\n", "http://h.example:5/dir", nullptr},
        {"site=http://h.example:65536\n", nullptr, "http://h.example:65536"},
        {"site=http://bad host.example\n", nullptr, "http://bad host.example"},
        {"site=http://h.example/?q=1\n", nullptr, "http://h.example/?q=1"},
        {"site=http://[::1]:80\n", nullptr, "http://[::1]:80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content ? c.content : "(no file)");
        std::filesystem::remove(SettingsFile());
        if (c.content) WriteSettings(c.content);
        const DirectorySite site = FindDirectorySite();
        EXPECT_EQ(site.baseUrl, c.baseUrl ? Text(c.baseUrl) : builtIn_);
        const std::string expected =
            c.invalid ? "设置文件 " + Utf8FromPath(SettingsFile()) + " 中的目录网站地址无效：" +
                            c.invalid + "；已改用内置地址 http://directory.velmora.example"
                      : "";
        EXPECT_EQ(SystemToUtf8(site.settingsProblem), expected);
    }

    const std::string unreadable = "设置文件 " + Utf8FromPath(SettingsFile()) +
                                   " 无法读取；已改用内置地址 http://directory.velmora.example";
    WriteSettings("site=http://h.example\n#" + std::string(kMaxSettingsFileBytes, 'x'));
    EXPECT_EQ(SystemToUtf8(FindDirectorySite().settingsProblem), unreadable) << "too big";
    std::filesystem::remove(SettingsFile());
    std::filesystem::create_directory(SettingsFile());
    EXPECT_EQ(SystemToUtf8(FindDirectorySite().settingsProblem), unreadable) << "a folder";
}

TEST_F(DirectorySiteTest, ParallelFromTheCommandLineOrTheSettingsFileAndABadValueIsTold) {
    struct Case {
        const char* content;                    // the settings file's
        std::optional<std::string_view> given;  // --parallel's value
        int parallel;
        std::string problem;  // UTF-8; empty: nothing told
    };
    const std::string file = "设置文件 " + SettingsFile().string() + " 中的并行数无效：";
    const std::string fallback = "（应为 1 到 8 的整数）；已改用顺序搜索";
    const Case cases[] = {
        {"site=http://h.example\n", std::nullopt, 1, ""},
        {"parallel=4\n", std::nullopt, 4, ""},
        {" parallel = 08 \nparallel=8\n", std::nullopt, 8, ""},
        {"parallel=1\n", std::nullopt, 1, ""},
        {"parallel=9\n", std::nullopt, 1, file + "9" + fallback},
        {"parallel=0\n", std::nullopt, 1, file + "0" + fallback},
        {"parallel=2.5\n", std::nullopt, 1, file + "2.5" + fallback},
        {"parallel=\n", std::nullopt, 1, file + fallback},
        {"parallel=-3\n", "3", 3, ""},
        {"parallel=3\n", "many", 1, "--parallel 的值无效：many" + fallback},
        {"site=ftp://h.example\nparallel=x\n", std::nullopt, 1,
         "设置文件 " + SettingsFile().string() +
             " 中的目录网站地址无效：ftp://h.example；已改用内置地址 "
             "http://directory.velmora.example；" +
             file + "x" + fallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        WriteSettings(c.content);
        const DirectorySite site = FindDirectorySite({}, c.given);
        EXPECT_EQ(site.parallel, c.parallel);
        EXPECT_EQ(SystemToUtf8(site.settingsProblem), c.problem);
    }
}

TEST_F(DirectorySiteTest, CommandLineThenEnvironmentThenSettingsFileThenHost) {
    WriteSettings("site=http://settings.example:81\n");
    EXPECT_EQ(FindDirectorySite("http://mirror:82/").baseUrl, "http://mirror:82");
    {
        ScopedVariable variable(kSiteVariable, "http://127.0.0.1:8080//");
        EXPECT_EQ(FindDirectorySite().baseUrl, "http://127.0.0.1:8080");
        EXPECT_EQ(FindDirectorySite("http://mirror:82").baseUrl, "http://mirror:82");
    }
    {
        ScopedVariable empty(kSiteVariable, "");
        EXPECT_EQ(FindDirectorySite().baseUrl, "http://settings.example:81");
    }
    EXPECT_EQ(SettingsFilePath(), Utf8FromPath(SettingsFile()));
    std::filesystem::remove(SettingsFile());
    EXPECT_EQ(FindDirectorySite().baseUrl, builtIn_);

    EXPECT_EQ(SearchUrl("http://127.0.0.1:8080", "a%20b"),
              "http://127.0.0.1:8080/search/index.php?_d=company&_a=company_s_search&f=search"
              "&terms=a%20b");
}

}  // namespace
}  // namespace velmora
