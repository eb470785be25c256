// The program's two patterns over pages in the directory site's markup.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "tests/regex/SamplePages.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using sample::Company;

std::vector<std::string> Fields(const Company& c) {
    return {c.name, c.contact, c.telephone, c.mobile, c.fax, c.email, c.address};
}

// The seven groups of the first match, back in UTF-8.
std::vector<std::string> Extract(const std::string& page) {
    Regex regex;
    EXPECT_TRUE(regex.Create(CompanyDetailPattern(), Utf8ToSystem(page)));
    std::vector<std::string> groups;
    if (regex.MatchCount() == 0) return groups;
    EXPECT_EQ(regex.GroupCount(), 7);
    for (int g = 1; g <= 7; ++g) groups.push_back(SystemToUtf8(regex.GetSubMatch(1, g)));
    return groups;
}

TEST(CompanyPattern, IsTheFixedTextOfTheProgram) {
    EXPECT_EQ(CompanyDetailPattern().size(), 455u);
}

TEST(CompanyPattern, ExtractsTheSevenFieldsOfARealisticPage) {
    Company company;
    EXPECT_EQ(Extract(sample::CompanyPage(company)), Fields(company));

    Company sparse;
    sparse.contact = "联系人：李女士";
    sparse.mobile = "";
    sparse.fax = " ";
    sparse.address = "上海市 浦东新区 &nbsp; 张江路<br>";
    EXPECT_EQ(Extract(sample::CompanyPage(sparse)), Fields(sparse));
}

TEST(CompanyPattern, EmailCellRules) {
    struct {
        const char* cell;
        const char* group6;
    } const cases[] = {
        {"sales@example.cn", "sales@example.cn"},
        // Whatever it begins with, the address stays whole.
        {"zhang@example.cn", "zhang@example.cn"},
        {"Bob@example.cn", "Bob@example.cn"},
        {"|x@example.cn", "|x@example.cn"},
        {" a@example.cn", " a@example.cn"},
        // An anchor comes back whole; cutting its text out is the caller's work.
        {"<a href=\"mailto:x@example.cn\" target=_blank>x@example.cn</a>",
         "<a href=\"mailto:x@example.cn\" target=_blank>x@example.cn</a>"},
        // The value starts after the last line break of the cell.
        {"\r\n  old@example.cn\r\nsales@example.cn", "sales@example.cn"},
        {"\r\n  old@example.cn\r\nnew@example.cn", "new@example.cn"},
    };
    for (const auto& c : cases) {
        Company company;
        company.email = c.cell;
        std::vector<std::string> groups = Extract(sample::CompanyPage(company));
        ASSERT_EQ(groups.size(), 7u) << c.cell;
        EXPECT_EQ(groups[5], c.group6) << c.cell;
        EXPECT_EQ(groups[6], company.address) << c.cell;
    }
}

TEST(CompanyPattern, ValuesNeverSpanLines) {
    for (auto breakField : {&Company::name, &Company::contact, &Company::telephone,
                            &Company::mobile, &Company::fax, &Company::address}) {
        Company company;
        company.*breakField += "\r\n续";
        EXPECT_TRUE(Extract(sample::CompanyPage(company)).empty()) << company.*breakField;
    }
}

TEST(CompanyPattern, MissingRowOrChangedMarkupGivesNoMatch) {
    Regex regex;
    std::string withoutAddress = sample::CompanyBlock(Company{}, false);
    EXPECT_TRUE(
        regex.Create(CompanyDetailPattern(), Utf8ToSystem(sample::Filler(2000) + withoutAddress)));
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_TRUE(regex.Create(CompanyDetailPattern(), ""));
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.GetSubMatch(1, 1), "");
}

TEST(CompanyPattern, FirstOfTwoBlocksIsMatchOne) {
    Company first;
    Company second;
    second.name = "第二公司";
    std::string page = sample::Filler(500) + sample::CompanyBlock(first) + sample::Filler(500) +
                       sample::CompanyBlock(second);
    Regex regex;
    ASSERT_TRUE(regex.Create(CompanyDetailPattern(), Utf8ToSystem(page)));
    ASSERT_EQ(regex.MatchCount(), 2);
    EXPECT_EQ(regex.GetSubMatch(1, 1), Utf8ToSystem(first.name));
    EXPECT_EQ(regex.GetSubMatch(2, 1), Utf8ToSystem(second.name));
}

TEST(CompanyPattern, MarkupCaseDoesNotMatter) {
    std::string block = sample::CompanyBlock(Company{});
    for (char& c : block) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::vector<std::string> groups = Extract(block);
    ASSERT_EQ(groups.size(), 7u);
    EXPECT_EQ(groups[0], Company{}.name);
    EXPECT_EQ(groups[6], Company{}.address);
}

TEST(CompanyLinkPattern, GathersEveryLinkInPageOrder) {
    std::vector<std::string> links = {"http://www.example.cn/company/1001.html",
                                      "http://www.example.cn/company/1002.html",
                                      " http://www.example.cn/company/1001.html ", "", "   "};
    Regex regex;
    ASSERT_TRUE(
        regex.Create(CompanyLinkPattern(), Utf8ToSystem(sample::ResultPage(links, 100 * 1024))));
    ASSERT_EQ(regex.MatchCount(), static_cast<int>(links.size()));
    EXPECT_EQ(regex.GroupCount(), 1);
    for (size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(regex.GetSubMatch(static_cast<int>(i) + 1, 1), links[i]) << i;
    }
}

TEST(CompanyLinkPattern, LinkWithChineseTextComesBackAsTheSameBytes) {
    Text page = Utf8ToSystem(sample::ResultPage({"/公司/北京.html"}, 4000));
    Regex regex;
    ASSERT_TRUE(regex.Create(CompanyLinkPattern(), page));
    ASSERT_EQ(regex.MatchCount(), 1);
    Text link = regex.GetSubMatch(1, 1);
    EXPECT_EQ(link, Utf8ToSystem("/公司/北京.html"));
    int position = -1;
    (void)regex.GetSubMatch(1, 1, &position);
    EXPECT_EQ(page.substr(static_cast<size_t>(position), link.size()), link);
}

}  // namespace
}  // namespace velmora
