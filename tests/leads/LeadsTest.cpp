// The lead list: each cell cleaned, which rows are one company, and how they merge.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "leads/LeadCleaning.h"
#include "leads/LeadList.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

ResultRow Row(const std::vector<std::string>& utf8Cells) {
    ResultRow row;
    const auto cells = row.Columns();
    for (std::size_t i = 0; i < utf8Cells.size(); ++i) *cells[i] = Utf8ToSystem(utf8Cells[i]);
    return row;
}

TEST(CleanRowTest, CleansEachCellAsTheTableSays) {
    struct Case {
        ResultColumn column;
        std::string raw;
        std::string cleaned;
    };
    const Case cases[] = {
        // Named references: with ";", legacy ones without it (by the longest name that fits),
        // names that are no reference.
        {kCompanyNameColumn, "A&amp;B &lt;C&gt; &quot;D&quot;", "A&B <C> \"D\""},
        {kCompanyNameColumn, "&copy2026 &notit; &ampx &zz; &", "©2026 ¬it; &x &zz; &"},
        {kCompanyNameColumn, "&CounterClockwiseContourIntegral;&NotNestedGreaterGreater;", "∳⪢̸"},
        // Numeric ones, with and without ";", and those HTML reads otherwise.
        {kContactColumn, "&#26446;&#x5148;&#X751F;&#33", "李先生!"},
        {kContactColumn, "&#0;&#xD800;&#x110000;&#99999999999999999999;a",
         "\uFFFD\uFFFD\uFFFD\uFFFDa"},
        {kContactColumn, "&#150;&#x80;&#x81; &#; &#x; &#xG", "–€ &#; &#x; &#xG"},
        {kContactColumn, "&#x1F600;&#128512;", "😀😀"},
        // Tags: a line or block break leaves a blank, an inline tag nothing; "<" starting no
        // tag, or one never closed, stays; ">" in a quoted attribute does not end the tag.
        {kAddressColumn, "杭州市<br>西湖区<b>文三路</b><!-- x -->1号", "杭州市 西湖区文三路1号"},
        {kAddressColumn, "<a title=\"a>b\">3 < 5</a> <3 <p", "3 < 5 <3 <p"},
        // mailto: in any case, also when the link's markup is gone; e-mail in lower case.
        {kEmailColumn, "<a href=\"mailto:Bob@X.cn\" target=_blank>Bob@X.cn</a>", "bob@x.cn"},
        {kEmailColumn, "MailTo:ＳＡＬＥＳ＠ｘ．ｃｎ", "sales@x.cn"},
        // Control and invisible characters go; blanks collapse and are trimmed.
        {kTelephoneColumn, "\r\n 0571-\x01\x7f\u0085 8888\u200b6666 \t", "0571- 88886666"},
        {kContactColumn, "\u3000王\u00a0\u00a0 伟&nbsp;(销售部)\n", "王 伟 (销售部)"},
        // Full-width ASCII made ASCII only in the contact cells.
        {kMobileColumn, "＋８６　１３８－００００－１２３４", "+86 138-0000-1234"},
        {kFaxColumn, "（０５７１）８８８８６６６６转８０１", "(0571)88886666转801"},
        {kCompanyNameColumn, "ＡＢＣ（杭州）有限公司", "ＡＢＣ（杭州）有限公司"},
        // Characters beyond the two-byte code page stay whole.
        {kCompanyNameColumn, "𠮷利&#x20BB7;", "𠮷利𠮷"},
        {kAddressColumn, "", ""},
    };
    for (const Case& c : cases) {
        ResultRow raw;
        *raw.Columns()[c.column] = Utf8ToSystem(c.raw);
        const ResultRow cleaned = CleanRow(raw);
        for (int column = 0; column < kResultColumnCount; ++column) {
            EXPECT_EQ(SystemToUtf8(*cleaned.Columns()[column]), column == c.column ? c.cleaned : "")
                << c.raw;
        }
    }
}

// Name, telephone, mobile, e-mail; the link is given apart.
struct Listing {
    std::string link;
    std::vector<std::string> cells;
};

Lead LeadOf(const Listing& listing) {
    const std::vector<std::string>& c = listing.cells;
    return {{Utf8ToSystem(listing.link), 0}, Row({c[0], "", c[1], c[2], "", c[3], ""})};
}

TEST(MergeDuplicatesTest, OneCompanyByLinkOrByNameAndContactAndNearMissesStayApart) {
    struct Case {
        Listing a;
        Listing b;
        bool oneCompany;
    };
    const Case cases[] = {
        // The same link is the same company, whatever the cells say.
        {{"http://s/c/1.html", {"甲公司", "", "", ""}},
         {"http://s/c/1.html", {"乙", "", "", ""}},
         true},
        {{"http://s/c/1.html", {"甲", "", "", ""}},
         {"http://s/c/2.html", {"甲", "", "", ""}},
         false},
        // Legal forms and a bracketed place go; one shared contact is enough.
        {{"", {"宏达机械有限公司", "0571-88886666", "", ""}},
         {"", {"宏达机械（杭州）股份有限公司", "+86 571 8888 6666", "", ""}},
         true},
        {{"", {"宏达集团有限公司", "", "13800001234", ""}},
         {"", {"宏达 集团", "", "+86-138-0000-1234", ""}},
         true},
        {{"", {"Hongda Machinery Co., Ltd.", "", "", "Sales@HD.cn"}},
         {"", {"HONGDA MACHINERY", "", "", "mailto:sales@hd.cn"}},
         true},
        // A number in the telephone cell of one and the mobile cell of the other; extensions.
        {{"", {"宏达", "13800001234", "", ""}}, {"", {"宏达", "", "8613800001234", ""}}, true},
        {{"", {"宏达", "0571-88886666-801", "", ""}},
         {"", {"宏达", "0571-88886666转802 / 0571-77776666", "", ""}},
         true},
        // Near misses: the same name without a shared contact; a shared contact without the
        // same name; the name differing beyond its form (市, 科技); a branch; no name at all;
        // a number too short; a place with more than a place in its brackets.
        {{"", {"宏达机械有限公司", "0571-88886666", "", "a@b.cn"}},
         {"", {"宏达机械有限公司", "0571-88886667", "", "c@b.cn"}},
         false},
        {{"", {"宏达机械有限公司", "0571-88886666", "", ""}},
         {"", {"恒信五金有限公司", "0571-88886666", "", ""}},
         false},
        {{"", {"杭州宏达机械有限公司", "13800001234", "", ""}},
         {"", {"杭州市宏达机械有限公司", "13800001234", "", ""}},
         false},
        {{"", {"宏达机械有限公司", "13800001234", "", ""}},
         {"", {"宏达机械科技有限公司", "13800001234", "", ""}},
         false},
        {{"", {"宏达有限公司", "13800001234", "", ""}},
         {"", {"宏达有限公司上海分公司", "13800001234", "", ""}},
         false},
        {{"", {"", "13800001234", "", ""}}, {"", {"", "13800001234", "", ""}}, false},
        {{"", {"有限公司", "13800001234", "", ""}}, {"", {"集团", "13800001234", "", ""}}, false},
        {{"", {"宏达", "110", "", ""}}, {"", {"宏达", "110", "", ""}}, false},
        {{"", {"宏达(A1)", "13800001234", "", ""}}, {"", {"宏达", "13800001234", "", ""}}, false},
    };
    for (const Case& c : cases) {
        const std::vector<Lead> merged = MergeDuplicates({LeadOf(c.a), LeadOf(c.b)});
        EXPECT_EQ(merged.size(), c.oneCompany ? 1u : 2u) << c.a.cells[0] << " / " << c.b.cells[0];
    }
}

TEST(MergeDuplicatesTest, TheMergedRowStandsFirstWithEachCellsFirstValue) {
    // Rows 0, 2 and 3 are one company: 0 and 3 by their link, 2 and 3 by name and e-mail once
    // cleaned.
    const std::vector<Lead> rows = {
        {{"L1", 7}, Row({"宏达", "", "0571-1", "", "", "", "地址一"})},
        {{"L2", 7}, Row({"恒信", "李", "", "", "", "", ""})},
        {{"L3", 8}, Row({"宏达有限公司", "王", "0571-2", "", "", "<b>A@B.CN</b>", "地址三"})},
        {{"L1", 9}, Row({"宏达", "张", "", "138", "", "a@b.cn", ""})},
    };
    const std::vector<Lead> merged = MergeDuplicates(rows);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].origin, (RowOrigin{"L1", 7}));
    EXPECT_EQ(merged[0].row, Row({"宏达", "王", "0571-1", "138", "", "a@b.cn", "地址一"}));
    EXPECT_EQ(merged[1], rows[1]);
}

TEST(MakeLeadListTest, LeavesOutWhatTheHistoryKnowsBeforeCleaning) {
    const std::vector<Lead> rows = {{{"L1", 1}, Row({"A&amp;B"})}, {{"L2", 1}, Row({"C"})}};
    std::vector<Lead> asked;
    const LeadHistory history = [&](std::span<const Lead> leads) {
        asked.assign(leads.begin(), leads.end());
        return std::optional<std::vector<bool>>(std::vector<bool>{false, true});
    };
    const auto list = MakeLeadList(rows, {.clean = true, .onlyNew = true}, history);
    ASSERT_TRUE(list);
    EXPECT_EQ(asked, rows) << "the history sees the rows as they were found";
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(SystemToUtf8((*list)[0].row.companyName), "A&B");

    EXPECT_FALSE(MakeLeadList(rows, {.onlyNew = true}, {})) << "no history";
    const LeadHistory unreadable = [](std::span<const Lead>) {
        return std::optional<std::vector<bool>>();
    };
    EXPECT_FALSE(MakeLeadList(rows, {.onlyNew = true}, unreadable));
    EXPECT_EQ(MakeLeadList(rows, {}, {}), rows) << "nothing asked: the rows as they are";
}

}  // namespace
}  // namespace velmora
