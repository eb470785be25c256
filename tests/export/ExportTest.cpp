#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <vector>

#include "SavedCsv.h"
#include "SavedWorkbook.h"
#include "export/Export.h"
#include "platform/ReadOnly.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using test::ReadSavedCsv;
using test::ReadSavedWorkbook;
using test::SavedWorkbook;
using test::ScratchFolder;

struct Message {
    std::string utf8;
    Text caption;
    unsigned flags;
};

// A window without a screen: the list is a table, the dialog answers from a queue, messages
// are recorded, and pending events run a hook.
class FakeWindow : public Frontend {
public:
    std::vector<std::vector<Text>> rows;
    std::deque<Text> dialogAnswers;  // an empty answer cancels
    std::vector<SaveDialogRequest> dialogRequests;
    std::vector<Message> messages;
    std::function<void()> onPendingEvents;
    int pendingEventCalls = 0;

    // A row of seven cells given in UTF-8.
    void AddRow(std::vector<std::string> utf8Cells) {
        std::vector<Text> row;
        for (const auto& cell : utf8Cells) row.push_back(Utf8ToSystem(cell));
        row.resize(kResultColumnCount);
        rows.push_back(std::move(row));
    }

    void SetStatusText(int, const Text&) override {}
    void SetTimerPeriod(int) override {}
    int AppendRow() override {
        rows.emplace_back(kResultColumnCount);
        return static_cast<int>(rows.size()) - 1;
    }
    void SetCell(int row, int column, const Text& text) override {
        rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column)) = text;
    }
    Text ReadCell(int row, int column) override {
        return rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
    }
    int RowCount() override { return static_cast<int>(rows.size()); }
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override {
        messages.push_back({SystemToUtf8(text), caption, flags});
        return kAnswerOk;
    }
    bool SetClipboardText(const Text&) override { return true; }
    Text AskSaveFileName(const SaveDialogRequest& request) override {
        dialogRequests.push_back(request);
        if (dialogAnswers.empty()) return {};
        Text answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    void ProcessPendingEvents() override {
        ++pendingEventCalls;
        if (onPendingEvents) onPendingEvents();
    }
};

constexpr DateTime kAt140509{2026, 3, 7, 14, 5, 9};

class ExportTest : public ::testing::Test {
protected:
    ExportTest() : exporter_(window_, Utf8ToSystem("/home/销售/桌面/"), [] { return kAt140509; }) {}

    // Lets the next dialog answer `name` inside the scratch folder; returns the full path.
    std::filesystem::path AnswerDialogWith(const std::string& name) {
        auto file = folder_.path() / name;
        window_.dialogAnswers.push_back(Utf8ToSystem(Utf8FromPath(file)));
        return file;
    }

    void AddThreeCompanies() {
        window_.AddRow({"深圳市华强电子有限公司", "张伟", "0755-83456789", "13800138000",
                        "0755-83456790", "sales@huaqiang.example", "深圳市福田区华强北路1号"});
        window_.AddRow({"广州白云贸易公司", "李娜", "020-12345678", "", "", "", "广州市白云区"});
        window_.AddRow({"杭州西湖茶业", "", "", "+8613900139000", "", "tea@xihu.example", ""});
    }

    SavedWorkbook Saved(const std::filesystem::path& file) {
        auto read = ReadSavedWorkbook(file);
        EXPECT_TRUE(read) << file;
        return read.value_or(SavedWorkbook{});
    }

    void ExpectOnlyMessage(const std::string& utf8, unsigned flags) {
        ASSERT_EQ(window_.messages.size(), 1u);
        EXPECT_EQ(window_.messages[0].utf8, utf8);
        EXPECT_EQ(window_.messages[0].caption, "") << "the default caption applies";
        EXPECT_EQ(window_.messages[0].flags, flags);
    }

    ScratchFolder folder_;
    FakeWindow window_;
    Exporter exporter_;
};

TEST(ColumnLetter, MapsOneToTwentySixOnly) {
    EXPECT_EQ(ColumnLetter(1), "A");
    EXPECT_EQ(ColumnLetter(7), "G");
    EXPECT_EQ(ColumnLetter(26), "Z");
    EXPECT_EQ(ColumnLetter(0), "");
    EXPECT_EQ(ColumnLetter(27), "");
    EXPECT_EQ(ColumnLetter(-1), "");
}

TEST(DefaultExportName, TakesTheTimeOfDayUpToTheSecondsMark) {
    struct Case {
        DateTime at;
        const char* expected;
    };
    const Case cases[] = {
        {{2026, 3, 7, 14, 5, 9}, "全部数据  14时5分9秒"},
        {{2026, 12, 31, 23, 59, 59}, "全部数据  23时59分59秒"},
        {{2026, 3, 7, 0, 0, 1}, "全部数据  0时0分1秒"},
        // Without seconds the date-time text has no "秒": the name keeps only the mark.
        {{2026, 3, 7, 14, 5, 0}, "全部数据  秒"},
        {{2026, 3, 7, 14, 0, 0}, "全部数据  秒"},
        {{2026, 3, 7, 0, 0, 0}, "全部数据  秒"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SystemToUtf8(DefaultExportName(Utf8ToSystem("全部数据  "), c.at)), c.expected)
            << c.expected;
    }
}

TEST(NameWithChosenExtension, TakesTheChosenEntrysExtensionWhenTheNameHasNone) {
    const Text filter =
        Utf8ToSystem("甲(*.xls)|*.xls|乙(*.xlsx)|*.xlsx|CSV 文件(*.csv)|*.csv|全部|*");
    struct Case {
        const char* name;
        std::size_t entry;
        const char* expected;
    };
    const Case cases[] = {
        {"/桌面/名单", 0, "/桌面/名单"},  // saved as a workbook, which adds ".xlsx"
        {"/桌面/名单", 1, "/桌面/名单.xlsx"},
        {"/桌面/名单", 2, "/桌面/名单.csv"},
        {"/桌面/名单.txt", 2, "/桌面/名单.txt"},
        {"/桌面.d/名单", 2, "/桌面.d/名单.csv"},
        {"/桌面/", 2, "/桌面/"},
        {"/桌面/名单", 3, "/桌面/名单"},  // "*" names no extension
        {"/桌面/名单", 9, "/桌面/名单"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SystemToUtf8(NameWithChosenExtension(Utf8ToSystem(c.name), filter, c.entry)),
                  c.expected)
            << c.name << " " << c.entry;
    }
}

TEST_F(ExportTest, FullExportOfThreeRowsWritesHeaderAndDataAndReportsThree) {
    AddThreeCompanies();
    const auto file = AnswerDialogWith("全部.xlsx");

    const ExportResult result = exporter_.ExportAll();
    EXPECT_EQ(result.outcome, ExportOutcome::kExported);
    EXPECT_EQ(result.count, 3);

    ASSERT_EQ(window_.dialogRequests.size(), 1u);
    const SaveDialogRequest& request = window_.dialogRequests[0];
    EXPECT_EQ(SystemToUtf8(request.filter),
              "默认保存为 office Excel文件(*.xls)|*.xls|Excel 工作簿(*.xlsx)|*.xlsx|"
              "CSV 文件(*.csv)|*.csv");
    EXPECT_EQ(SystemToUtf8(request.defaultName), "全部数据  14时5分9秒");
    EXPECT_EQ(SystemToUtf8(request.initialFolder), "/home/销售/桌面/");
    ExpectOnlyMessage("数据导出成功! 共：3 行记录！！", MessageBoxFlag::kIconInformation);

    const SavedWorkbook saved = Saved(file);
    const char* headers[] = {"公司名", "联系人", "电话", "手机", "传真", "邮件", "地址"};
    const char* columns = "ABCDEFG";
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(saved.Text(std::string(1, columns[c]) + "1"), headers[c]);
        for (int r = 0; r < 3; ++r) {
            const std::string address = std::string(1, columns[c]) + std::to_string(r + 2);
            EXPECT_EQ(saved.Text(address), SystemToUtf8(window_.rows[r][c])) << address;
        }
    }
    EXPECT_EQ(saved.cells.size(), 7u + 7 + 4 + 3) << "empty list cells stay empty";
    for (const auto& [address, cell] : saved.cells) EXPECT_EQ(cell.type, 's') << address;
    EXPECT_EQ(window_.rows.size(), 3u) << "the export does not change the list";
}

TEST_F(ExportTest, EachVariantWritesItsHeaderAndListColumn) {
    struct Case {
        ExportResult (Exporter::*run)();
        const char* prefix;
        const char* header;
        int listColumn;
    };
    const Case cases[] = {
        {&Exporter::ExportCompanyNames, "公司名  ", "公司名", 0},
        {&Exporter::ExportMobiles, "手机号  ", "手机号", 3},
        {&Exporter::ExportEmails, "邮箱  ", "邮箱", 5},
    };
    AddThreeCompanies();
    for (const auto& c : cases) {
        window_.dialogRequests.clear();
        window_.messages.clear();
        const auto file = AnswerDialogWith(std::string(c.header) + ".xlsx");
        const ExportResult result = (exporter_.*c.run)();
        ASSERT_EQ(result.outcome, ExportOutcome::kExported) << c.header;

        ASSERT_EQ(window_.dialogRequests.size(), 1u);
        EXPECT_EQ(SystemToUtf8(window_.dialogRequests[0].defaultName),
                  std::string(c.prefix) + "14时5分9秒");
        const SavedWorkbook saved = Saved(file);
        EXPECT_EQ(saved.Text("A1"), c.header);
        int filled = 0;
        for (int r = 0; r < 3; ++r) {
            const std::string expected = SystemToUtf8(window_.rows[r][c.listColumn]);
            EXPECT_EQ(saved.Text("A" + std::to_string(r + 2)), expected) << c.header << r;
            filled += expected.empty() ? 0 : 1;
        }
        EXPECT_EQ(saved.Text("B1"), "") << "one column only";
        EXPECT_EQ(result.count, filled) << c.header;
        ExpectOnlyMessage("数据导出成功! 共：" + std::to_string(filled) + " 行记录！！",
                          MessageBoxFlag::kIconInformation);
    }
}

TEST_F(ExportTest, CountIsTheDataRowsWithAFirstCellWhereverTheyAre) {
    struct Case {
        const char* name;
        std::vector<std::string> mobiles;
        int count;
    };
    const Case cases[] = {
        {"only the last row", {"", "", "13800138000"}, 1},
        {"only the first row", {"13800138000", "", ""}, 1},
        {"every row", {"13800138000", "13900139000", "+8613700137000"}, 3},
        {"none", {"", "", ""}, 0},
    };
    for (const auto& c : cases) {
        window_.rows.clear();
        window_.messages.clear();
        for (const auto& mobile : c.mobiles) window_.AddRow({"公司", "", "", mobile});
        const auto file = AnswerDialogWith(std::string(c.name) + ".xlsx");

        const ExportResult result = exporter_.ExportMobiles();
        EXPECT_EQ(result.count, c.count) << c.name;
        if (c.count == 0) {
            // Saved all the same, but nothing of it counts: a failure.
            EXPECT_EQ(result.outcome, ExportOutcome::kNoneVerified);
            ExpectOnlyMessage("数据导出失败!", MessageBoxFlag::kIconWarning);
        } else {
            EXPECT_EQ(result.outcome, ExportOutcome::kExported) << c.name;
            ExpectOnlyMessage("数据导出成功! 共：" + std::to_string(c.count) + " 行记录！！",
                              MessageBoxFlag::kIconInformation);
        }
        const SavedWorkbook saved = Saved(file);
        EXPECT_EQ(saved.Text("A1"), "手机号");
        for (size_t r = 0; r < c.mobiles.size(); ++r) {
            EXPECT_EQ(saved.Text("A" + std::to_string(r + 2)), c.mobiles[r]) << c.name;
        }
    }
}

TEST_F(ExportTest, EmptyListRefusesBeforeTheDialog) {
    const auto file = AnswerDialogWith("never.xlsx");
    EXPECT_EQ(exporter_.ExportEmails().outcome, ExportOutcome::kNothingToExport);
    EXPECT_TRUE(window_.dialogRequests.empty());
    ExpectOnlyMessage("还没进行操作，不能导出！", MessageBoxFlag::kOk);
    EXPECT_EQ(folder_.Listing(), "");

    window_.messages.clear();
    EXPECT_EQ(exporter_.ExportAllToFile(Utf8ToSystem(Utf8FromPath(file))).outcome,
              ExportOutcome::kNothingToExport);
    ExpectOnlyMessage("还没进行操作，不能导出！", MessageBoxFlag::kOk);
    EXPECT_EQ(folder_.Listing(), "");
}

TEST_F(ExportTest, CancelledDialogIsSilent) {
    AddThreeCompanies();
    EXPECT_EQ(exporter_.ExportAll().outcome, ExportOutcome::kCancelled);
    EXPECT_EQ(window_.dialogRequests.size(), 1u);
    EXPECT_TRUE(window_.messages.empty());
    EXPECT_EQ(window_.pendingEventCalls, 0);
    EXPECT_EQ(folder_.Listing(), "");
}

TEST_F(ExportTest, AFailedSaveSaysWhichFileAndWhyLosesNothingAndCanBeRepeated) {
    namespace fs = std::filesystem;
    AddThreeCompanies();
    const auto listed = window_.rows;
    const std::string kept = "the workbook as it was";
    const fs::path readOnly = folder_.path() / PathFromUtf8("只读.xlsx");
    std::ofstream(readOnly, std::ios::binary) << kept;
    ASSERT_EQ(SetReadOnly(readOnly, true), 0);
    const fs::path missing = folder_.path() / PathFromUtf8("新文件夹");
    const fs::path taken = folder_.path() / "taken.xlsx";
    fs::create_directory(taken);
    struct Case {
        fs::path target;
        std::string beforeName;  // the reason's sentence around the file's name
        std::string afterName;
        std::function<void()> remedy;
    };
    const Case cases[] = {
        {readOnly, "文件“", "”是只读的，没有改动：请另选文件名，或去掉它的只读属性后重新保存。",
         [&] { ASSERT_EQ(SetReadOnly(readOnly, false), 0); }},
        {missing / "x.xlsx", "文件“", "”所在的文件夹不存在：请另选文件夹后重新保存。",
         [&] { fs::create_directory(missing); }},
        // One past the longest name a folder holds (WorkbookTest).
        {folder_.path() / (std::string(256, 'n') + ".xlsx"), "文件名“",
         "”太长，系统不接受：请选短一些的文件名或文件夹后重新保存。", nullptr},
        {taken, "文件“", "”无法写入。", [&] { fs::remove(taken); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromPath(c.target));
        window_.messages.clear();
        window_.dialogAnswers.push_back(Utf8ToSystem(Utf8FromPath(c.target)));
        const ExportResult failed = exporter_.ExportAll();
        EXPECT_EQ(failed.outcome, ExportOutcome::kSaveFailed);
        ExpectOnlyMessage("数据导出失败! " + c.beforeName + Utf8FromPath(c.target) + c.afterName,
                          MessageBoxFlag::kIconWarning);
        EXPECT_EQ(window_.rows, listed);
        EXPECT_TRUE(c.target != readOnly || fs::file_size(readOnly) == kept.size());
        if (!c.remedy) continue;
        c.remedy();
        window_.dialogAnswers.push_back(Utf8ToSystem(Utf8FromPath(c.target)));
        EXPECT_EQ(exporter_.ExportAll().outcome, ExportOutcome::kExported) << "at once";
        EXPECT_EQ(Saved(c.target).Text("A2"), "深圳市华强电子有限公司");
    }
    // No fresh file is left behind by a failure.
    EXPECT_EQ(folder_.Listing(), "taken.xlsx 只读.xlsx 新文件夹");
}

TEST_F(ExportTest, SavesUnderAPathPastMaxPath) {
    AddThreeCompanies();
    std::string folder = Utf8FromPath(folder_.path());
    while (folder.size() < 300) folder += "/" + std::string(40, 'f');
    ASSERT_TRUE(std::filesystem::create_directories(PathFromUtf8(folder)));
    const std::string file = folder + "/" + std::string(40, 'n') + ".xlsx";
    EXPECT_EQ(exporter_.ExportAllToFile(Utf8ToSystem(file)).outcome, ExportOutcome::kExported);
    EXPECT_GT(std::filesystem::file_size(PathFromUtf8(file)), 0u);
}

TEST_F(ExportTest, SecondExportWhileOneRunsIsIgnored) {
    AddThreeCompanies();
    const auto file = AnswerDialogWith("first.xlsx");
    AnswerDialogWith("second.xlsx");
    std::vector<ExportOutcome> nested;
    window_.onPendingEvents = [&] {
        EXPECT_TRUE(exporter_.IsRunning());
        if (nested.empty()) nested.push_back(exporter_.ExportCompanyNames().outcome);
    };

    const ExportResult result = exporter_.ExportAll();
    ASSERT_EQ(nested.size(), 1u);
    EXPECT_EQ(nested[0], ExportOutcome::kBusy);
    EXPECT_EQ(result.outcome, ExportOutcome::kExported);
    EXPECT_EQ(result.count, 3);
    EXPECT_EQ(window_.dialogRequests.size(), 1u) << "the second export asks nothing";
    ExpectOnlyMessage("数据导出成功! 共：3 行记录！！", MessageBoxFlag::kIconInformation);
    EXPECT_EQ(Saved(file).Text("G1"), "地址") << "the nested call did not disturb the workbook";
    EXPECT_EQ(folder_.Listing(), "first.xlsx");

    // Once the first has finished, exports run again.
    EXPECT_FALSE(exporter_.IsRunning());
    window_.onPendingEvents = nullptr;
    window_.messages.clear();
    EXPECT_EQ(exporter_.ExportCompanyNames().outcome, ExportOutcome::kExported);
    EXPECT_EQ(folder_.Listing(), "first.xlsx second.xlsx");
}

TEST_F(ExportTest, RowsAreCountedAfterTheWindowHadItsTurnAfterTheHeader) {
    AddThreeCompanies();
    const auto file = AnswerDialogWith("growing.xlsx");
    // The second turn comes after the header and before the rows are counted: its row is
    // exported. Every later turn's row is neither written nor counted.
    window_.onPendingEvents = [&] {
        if (window_.pendingEventCalls == 2) window_.AddRow({"表头后的公司"});
        if (window_.pendingEventCalls > 2) window_.AddRow({"后来的公司", "", "", "13600136000"});
    };

    const ExportResult result = exporter_.ExportAll();
    EXPECT_EQ(result.count, 4);
    const SavedWorkbook saved = Saved(file);
    EXPECT_EQ(saved.Text("A5"), "表头后的公司");
    EXPECT_EQ(saved.Text("A6"), "");
}

TEST_F(ExportTest, WindowIsLetInWhereTheRowsAreWorkedAndProgressIsShown) {
    struct Step {
        ExportPhase phase;
        int done;
        int total;
        bool operator==(const Step&) const = default;
    };
    std::vector<Step> steps;
    Exporter exporter(window_, "/", LocalDateTimeNow, [&](ExportPhase phase, int done, int total) {
        steps.push_back({phase, done, total});
    });
    AddThreeCompanies();

    AnswerDialogWith("all.xlsx");
    ASSERT_EQ(exporter.ExportAll().outcome, ExportOutcome::kExported);
    // setup, header, three written rows, three verified rows
    EXPECT_EQ(window_.pendingEventCalls, 8);
    const std::vector<Step> full = {
        {ExportPhase::kWriting, 0, 0},   {ExportPhase::kWriting, 0, 0},
        {ExportPhase::kWriting, 1, 3},   {ExportPhase::kWriting, 2, 3},
        {ExportPhase::kWriting, 3, 3},   {ExportPhase::kVerifying, 1, 3},
        {ExportPhase::kVerifying, 2, 3}, {ExportPhase::kVerifying, 3, 3},
        {ExportPhase::kSaving, 0, 1},    {ExportPhase::kSaving, 1, 1},
    };
    EXPECT_EQ(steps, full);

    window_.pendingEventCalls = 0;
    AnswerDialogWith("names.xlsx");
    ASSERT_EQ(exporter.ExportCompanyNames().outcome, ExportOutcome::kExported);
    // setup and three verified rows
    EXPECT_EQ(window_.pendingEventCalls, 4);
}

TEST_F(ExportTest, CsvLetsTheWindowInWhileWritingAndVerifiesNothing) {
    std::vector<std::tuple<ExportPhase, int, int>> steps;
    Exporter exporter(window_, "/", LocalDateTimeNow, [&](ExportPhase phase, int done, int total) {
        steps.emplace_back(phase, done, total);
    });
    AddThreeCompanies();
    using enum ExportPhase;
    struct Case {
        ExportResult (Exporter::*run)();
        const char* file;
        std::vector<std::tuple<ExportPhase, int, int>> steps;
        int windowTurns;
    };
    const Case cases[] = {
        {&Exporter::ExportAll,
         "all.csv",
         {{kWriting, 0, 0},
          {kWriting, 0, 0},
          {kWriting, 1, 3},
          {kWriting, 2, 3},
          {kWriting, 3, 3},
          {kSaving, 0, 1},
          {kSaving, 1, 1}},
         5},
        {&Exporter::ExportCompanyNames,
         "names.csv",
         {{kWriting, 0, 0}, {kSaving, 0, 1}, {kSaving, 1, 1}},
         1},
    };
    for (const Case& c : cases) {
        steps.clear();
        window_.pendingEventCalls = 0;
        AnswerDialogWith(c.file);
        ASSERT_EQ((exporter.*c.run)().outcome, ExportOutcome::kExported) << c.file;
        EXPECT_EQ(steps, c.steps) << c.file;
        EXPECT_EQ(window_.pendingEventCalls, c.windowTurns) << c.file;
    }
}

TEST_F(ExportTest, ExportToAGivenFileAsksNoDialogAndReports) {
    AddThreeCompanies();
    const auto file = folder_.path() / "cli-export";
    const ExportResult result = exporter_.ExportAllToFile(Utf8ToSystem(Utf8FromPath(file)));
    EXPECT_EQ(result.outcome, ExportOutcome::kExported);
    EXPECT_TRUE(window_.dialogRequests.empty());
    ExpectOnlyMessage("数据导出成功! 共：3 行记录！！", MessageBoxFlag::kIconInformation);
    EXPECT_EQ(Saved(folder_.path() / "cli-export.xlsx").Text("F1"), "邮件");

    window_.messages.clear();
    EXPECT_EQ(exporter_.ExportAllToFile("").outcome, ExportOutcome::kSaveFailed);
    ExpectOnlyMessage("数据导出失败!", MessageBoxFlag::kIconWarning);
}

TEST_F(ExportTest, CsvIsWhatAStrictReaderReadsBackForEveryVariant) {
    struct Cell {
        std::string raw;
        std::string read;  // as a CSV reader gets it
    };
    const Cell cells[] = {
        {"深圳市华强电子有限公司", "深圳市华强电子有限公司"},
        {"a,\"b\"\r\nc", "a,\"b\"\r\nc"},
        // Cells a spreadsheet would run as formulas are made text.
        {"=HYPERLINK(\"http://x\")", "'=HYPERLINK(\"http://x\")"},
        {"+1+2", "'+1+2"},
        {"-2+3;cmd", "'-2+3;cmd"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "'\r=1"},
        {"-", "'-"},
        // Telephone numbers are not.
        {"+86 138-0000-1234", "+86 138-0000-1234"},
        {"-(0571) 88886666转801", "-(0571) 88886666转801"},
        {"+1 555 0100 ext 8", "+1 555 0100 ext 8"},
        {"", ""},
    };
    for (const Cell& cell : cells) {
        window_.AddRow({cell.raw, "联系人", "", cell.raw, "", cell.raw, "地址"});
    }
    struct Variant {
        ExportResult (Exporter::*run)();
        const char* file;
        std::vector<std::string> header;
        std::vector<int> columns;
    };
    const Variant variants[] = {
        {&Exporter::ExportAll,
         "全部.csv",
         {"公司名", "联系人", "电话", "手机", "传真", "邮件", "地址"},
         {0, 1, 2, 3, 4, 5, 6}},
        {&Exporter::ExportCompanyNames, "公司名.CSV", {"公司名"}, {0}},
        {&Exporter::ExportMobiles, "手机号.Csv", {"手机号"}, {3}},
        {&Exporter::ExportEmails, "邮箱.csv", {"邮箱"}, {5}},
    };
    for (const Variant& variant : variants) {
        window_.messages.clear();
        const auto file = AnswerDialogWith(variant.file);
        const ExportResult result = (exporter_.*variant.run)();
        EXPECT_EQ(result.outcome, ExportOutcome::kExported) << variant.file;
        EXPECT_EQ(result.count, static_cast<int>(std::size(cells)) - 1) << "rows with a first cell";
        ExpectOnlyMessage("数据导出成功! 共：" + std::to_string(result.count) + " 行记录！！",
                          MessageBoxFlag::kIconInformation);
        const auto csv = ReadSavedCsv(file);
        ASSERT_TRUE(csv) << variant.file;
        EXPECT_TRUE(csv->byteOrderMark);
        ASSERT_EQ(csv->records.size(), std::size(cells) + 1);
        EXPECT_EQ(csv->records[0], variant.header);
        for (std::size_t r = 0; r < std::size(cells); ++r) {
            std::vector<std::string> expected;
            for (const int column : variant.columns) {
                const std::string raw = SystemToUtf8(window_.rows[r][column]);
                expected.push_back(raw == cells[r].raw ? cells[r].read : raw);
            }
            EXPECT_EQ(csv->records[r + 1], expected) << variant.file << " row " << r;
        }
    }
}

TEST_F(ExportTest, LeadExportsWriteTheLeadListAndAskForNoFileWhenNothingIsLeft) {
    window_.AddRow({"宏达机械有限公司", "", "0571-88886666", "", "", "", "杭州&nbsp;西湖区"});
    window_.AddRow({"恒信五金", "李", "", "", "", "<a href=\"mailto:LI@X.CN\">LI@X.CN</a>", ""});
    window_.AddRow({"宏达机械（杭州）集团", "王", "+86 571 8888 6666", "13800001234", "", "", ""});

    const auto file = AnswerDialogWith("整理.csv");
    EXPECT_EQ(exporter_.ExportCleanedMerged().outcome, ExportOutcome::kExported);
    EXPECT_EQ(SystemToUtf8(window_.dialogRequests.back().defaultName), "整理去重  14时5分9秒");
    const auto csv = ReadSavedCsv(file);
    ASSERT_TRUE(csv);
    const std::vector<std::vector<std::string>> expected = {
        {"公司名", "联系人", "电话", "手机", "传真", "邮件", "地址"},
        {"宏达机械有限公司", "王", "0571-88886666", "13800001234", "", "", "杭州 西湖区"},
        {"恒信五金", "李", "", "", "", "li@x.cn", ""}};
    EXPECT_EQ(csv->records, expected);
    EXPECT_EQ(SystemToUtf8(window_.rows[1][5]), "<a href=\"mailto:LI@X.CN\">LI@X.CN</a>")
        << "the list keeps its raw cells";

    struct Case {
        LeadHistory history;
        ExportOutcome outcome;
        std::string message;
        unsigned flags;
    };
    const LeadHistory allKnown = [](std::span<const Lead> leads) {
        return std::optional<std::vector<bool>>(std::vector<bool>(leads.size(), true));
    };
    const Case cases[] = {
        {allKnown, ExportOutcome::kNothingNew, "没有新增的公司：每一家都在以前的搜索中出现过。",
         MessageBoxFlag::kIconInformation},
        {{},
         ExportOutcome::kNoHistory,
         "读不到以前的搜索记录，找不出新增的公司！",
         MessageBoxFlag::kIconWarning},
    };
    for (const Case& c : cases) {
        window_.dialogRequests.clear();
        window_.messages.clear();
        exporter_.SetLeadHistory(c.history);
        EXPECT_EQ(exporter_.ExportOnlyNew().outcome, c.outcome);
        EXPECT_TRUE(window_.dialogRequests.empty());
        ExpectOnlyMessage(c.message, c.flags);
    }
}

}  // namespace
}  // namespace velmora
