#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "SavedWorkbook.h"
#include "export/Workbook.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {

// Test output names the storage of WorkbookFile's runs (found by argument lookup, so here).
static void PrintTo(StringStorage storage, std::ostream* out) {
    *out << (storage == StringStorage::kShared ? "shared" : "inline");
}

namespace {

using test::ReadSavedWorkbook;
using test::ScratchFolder;

// A path as a save dialog hands it to SaveAs: in the system's code page.
Text FileName(const std::filesystem::path& path) {
    return Utf8ToSystem(Utf8FromPath(path));
}

struct AddressCase {
    const char* address;
    bool valid;
    int row;
    int column;
};

TEST(CellAddress, ParsesCellsInsideTheSheetAndRefusesTheRest) {
    const AddressCase cases[] = {
        {"A1", true, 1, 1},
        {"G5", true, 5, 7},
        {"Z26", true, 26, 26},
        {"AA10", true, 10, 27},
        {"XFD1048576", true, 1048576, 16384},
        {"XFE1", false, 0, 0},      // one column too far
        {"A1048577", false, 0, 0},  // one row too far
        {"A0", false, 0, 0},
        {"A01", false, 0, 0},
        {"a1", false, 0, 0},
        {"", false, 0, 0},
        {"A", false, 0, 0},
        {"12", false, 0, 0},
        {"A1:B2", false, 0, 0},
        {"A-1", false, 0, 0},
        {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1", false, 0, 0},
        {"A99999999999999999999999", false, 0, 0},
    };
    for (const auto& c : cases) {
        CellPosition position{-1, -1};
        EXPECT_EQ(ParseCellAddress(c.address, position), c.valid) << c.address;
        if (c.valid) {
            EXPECT_EQ(position.row, c.row) << c.address;
            EXPECT_EQ(position.column, c.column) << c.address;
        }
    }
}

struct FileTextCase {
    const char* name;
    Text input;
    std::string expected;
};

TEST(CellTextForFile, EscapesWhatXmlCannotHoldAndProtectsLiteralEscapes) {
    const FileTextCase cases[] = {
        {"Chinese", Utf8ToSystem("深圳市华强电子有限公司"), "深圳市华强电子有限公司"},
        {"tab and line feed stay", "a\tb\nc", "a\tb\nc"},
        {"controls",
         std::string("a\x01"
                     "b\x1f"
                     "c\x7f",
                     6),
         "a_x0001_b_x001F_c\x7f"},
        {"zero byte", std::string("a\0b", 3), "a_x0000_b"},
        {"carriage return", "1\r\n2", "1_x000D_\n2"},
        {"literal escape", "_x0041_", "_x005F_x0041_"},
        {"lower-case hex is an escape too", "_x00ff_", "_x005F_x00ff_"},
        {"not an escape", "_x004_ _x004G_ _X0041_", "_x004_ _x004G_ _X0041_"},
        {"U+FFFE and U+FFFF",
         Utf8ToSystem("a\xEF\xBF\xBE"
                      "b\xEF\xBF\xBF"),
         "a_xFFFE_b_xFFFF_"},
        {"formula-looking text", "=SUM(A1:A3)", "=SUM(A1:A3)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CellTextForFile(c.input), c.expected) << c.name;
    }
}

TEST(CellTextForFile, CutsAtTheCellLimitBetweenCharactersAndEscapes) {
    const std::string limit(kMaxCellCharacters, 'a');
    EXPECT_EQ(CellTextForFile(limit + "b"), limit);
    EXPECT_EQ(CellTextForFile(limit), limit);

    // An escape that would cross the limit is dropped whole.
    const std::string nearly(kMaxCellCharacters - 3, 'a');
    EXPECT_EQ(CellTextForFile(nearly + "\x01"
                                       "b"),
              nearly);

    // A character outside the BMP counts as two, as the spreadsheet application counts it.
    const std::string oneShort(kMaxCellCharacters - 1, 'a');
    EXPECT_EQ(CellTextForFile(oneShort + Utf8ToSystem("\xF0\x9F\x98\x80")), oneShort);
    EXPECT_EQ(CellTextForFile(Utf8ToSystem("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");

    // Two-byte characters are never split.
    Text chinese;
    for (int i = 0; i < kMaxCellCharacters + 10; ++i) chinese += Utf8ToSystem("中");
    const std::string cut = CellTextForFile(chinese);
    EXPECT_EQ(cut.size(), static_cast<size_t>(kMaxCellCharacters) * 3);
}

// A workbook ready for cells, as the export prepares it.
Workbook OpenWorkbook(StringStorage storage = StringStorage::kInline) {
    Workbook workbook(storage);
    workbook.CreateApplication();
    workbook.AddWorkbook();
    workbook.SelectSheet(1);
    workbook.Activate();
    return workbook;
}

bool Put(Workbook& workbook, const char* address, const Text& value) {
    workbook.SetStartAddress(address);
    workbook.SetEndAddress(address);
    return workbook.SetRangeValue(value);
}

Text Get(Workbook& workbook, const char* address) {
    workbook.SetStartAddress(address);
    return workbook.StartCellValue();
}

TEST(Workbook, CellsAreWrittenAndReadBackByAddressOnlyOnTheCurrentSheet) {
    Workbook workbook = OpenWorkbook();
    EXPECT_TRUE(Put(workbook, "C5", "x"));
    EXPECT_EQ(Get(workbook, "C5"), "x");
    EXPECT_EQ(Get(workbook, "C4"), "");
    EXPECT_EQ(Get(workbook, "Z99"), "");
    EXPECT_TRUE(Put(workbook, "C5", "y"));
    EXPECT_EQ(Get(workbook, "C5"), "y");

    // A range of more than one cell, or a broken address, is not written.
    workbook.SetStartAddress("A1");
    workbook.SetEndAddress("B2");
    EXPECT_FALSE(workbook.SetRangeValue("z"));
    EXPECT_EQ(Get(workbook, "A1"), "");
    EXPECT_FALSE(Put(workbook, "", "z"));
    EXPECT_EQ(Get(workbook, ""), "");

    workbook.SelectSheet(2);
    EXPECT_EQ(Get(workbook, "C5"), "");
    EXPECT_FALSE(Put(workbook, "C5", "z"));
    workbook.SelectSheet(1);
    EXPECT_EQ(Get(workbook, "C5"), "y");
}

TEST(Workbook, NothingIsHeldWithoutApplicationOrWorkbookAndReleaseForgetsAll) {
    Workbook none;
    EXPECT_FALSE(Put(none, "A1", "x"));
    EXPECT_EQ(Get(none, "A1"), "");
    EXPECT_EQ(none.SaveAs("/nonexistent/x.xlsx").status, SaveStatus::kNoWorkbook);

    Workbook noBook;
    noBook.CreateApplication();
    noBook.SelectSheet(1);
    EXPECT_FALSE(Put(noBook, "A1", "x"));

    Workbook workbook = OpenWorkbook();
    ASSERT_TRUE(Put(workbook, "A1", "x"));
    workbook.CloseWorkbooks();
    workbook.ReleaseWorkbook();
    workbook.Quit();
    workbook.ReleaseApplication();
    EXPECT_EQ(Get(workbook, "A1"), "");
    workbook.CreateApplication();
    workbook.AddWorkbook();
    workbook.SelectSheet(1);
    EXPECT_EQ(Get(workbook, "A1"), "") << "a new workbook starts empty";
}

class WorkbookFile : public ::testing::TestWithParam<StringStorage> {
protected:
    ScratchFolder folder_;
};

TEST_P(WorkbookFile, EveryCellReadsBackAsTheSameText) {
    struct Cell {
        const char* address;
        Text value;
        std::string expectedUtf8;
    };
    const std::string longText(kMaxCellCharacters + 5, 'L');
    const Cell cells[] = {
        {"A1", Utf8ToSystem("公司名"), "公司名"},
        {"B1", Utf8ToSystem("㐀𠀀"), "㐀𠀀"},  // outside CP936: kept by GB18030
        {"A2", "0755-83456789", "0755-83456789"},
        {"B2", "007", "007"},
        {"C2", "+8613800138000", "+8613800138000"},
        {"D2", "=1+1", "=1+1"},
        {"E2", "1E5", "1E5"},
        {"F2", "TRUE", "TRUE"},
        {"G2", "  spaced  & <tagged> \"quoted\" ", "  spaced  & <tagged> \"quoted\" "},
        {"A3",
         std::string("bell\x07"
                     "nul\0end",
                     12),
         std::string("bell\x07"
                     "nul\0end",
                     12)},
        {"B3", "cr\r\nlf", "cr\r\nlf"},
        {"C3", "_x0041_", "_x0041_"},
        {"D3", Utf8ToSystem("\xEF\xBF\xBE"), "\xEF\xBF\xBE"},
        {"E3", longText, longText.substr(0, kMaxCellCharacters)},
        {"G4", "far", "far"},
    };
    Workbook workbook = OpenWorkbook(GetParam());
    for (const auto& cell : cells) ASSERT_TRUE(Put(workbook, cell.address, cell.value));
    ASSERT_TRUE(Put(workbook, "A4", ""));  // an empty cell stays empty

    const auto file = folder_.path() / "cells.xlsx";
    const SaveResult saved = workbook.SaveAs(FileName(file));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved.path, Utf8FromPath(file));
    EXPECT_EQ(folder_.Listing(), "cells.xlsx") << "no temporary file is left behind";

    const auto read = ReadSavedWorkbook(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->sheets, 1);
    EXPECT_EQ(read->cells.size(), std::size(cells));
    for (const auto& cell : cells) {
        ASSERT_TRUE(read->cells.count(cell.address)) << cell.address;
        EXPECT_EQ(read->cells.at(cell.address).type, 's') << cell.address;
        EXPECT_EQ(read->cells.at(cell.address).utf8, cell.expectedUtf8) << cell.address;
    }
}

INSTANTIATE_TEST_SUITE_P(StringStorages, WorkbookFile,
                         ::testing::Values(StringStorage::kInline, StringStorage::kShared));

class WorkbookSave : public ::testing::Test {
protected:
    ScratchFolder folder_;
};

TEST_F(WorkbookSave, NamesWithoutExtensionGetXlsxAndOthersAreKept) {
    Workbook workbook = OpenWorkbook();
    ASSERT_TRUE(Put(workbook, "A1", "x"));
    const std::string utf8Base =
        Utf8FromPath(folder_.path() / PathFromUtf8("全部数据  14时5分9秒"));
    const SaveResult plain = workbook.SaveAs(Utf8ToSystem(utf8Base));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain.path, utf8Base + ".xlsx");

    const auto xls = folder_.path() / "chosen.xls";
    ASSERT_TRUE(workbook.SaveAs(FileName(xls)));
    const auto read = ReadSavedWorkbook(xls);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Text("A1"), "x");
    EXPECT_EQ(folder_.Listing(), "chosen.xls 全部数据  14时5分9秒.xlsx");
}

TEST_F(WorkbookSave, ANameAtTheFileSystemsLengthLimitSaves) {
    Workbook workbook = OpenWorkbook();
    ASSERT_TRUE(Put(workbook, "A1", "x"));
    // The longest name a folder holds: 255 bytes on Linux's file systems, 255 UTF-16 units on
    // NTFS, the same for a name of ASCII letters. With ".xlsx", exactly that long.
    constexpr std::size_t kLongestName = 255;
    const std::string longest(kLongestName - 5, 'n');
    const SaveResult saved = workbook.SaveAs(FileName(folder_.path() / longest));
    ASSERT_TRUE(saved);
    EXPECT_EQ(folder_.Listing(), longest + ".xlsx");
}

TEST_F(WorkbookSave, AnExistingFileIsReplaced) {
    const auto file = folder_.path() / "old.xlsx";
    std::ofstream(file) << "not a workbook";
    Workbook workbook = OpenWorkbook();
    ASSERT_TRUE(Put(workbook, "A1", "new"));
    ASSERT_TRUE(workbook.SaveAs(FileName(file)));
    const auto read = ReadSavedWorkbook(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Text("A1"), "new");
}

TEST_F(WorkbookSave, FailuresAreReportedAndLeaveNothingBehind) {
    Workbook workbook = OpenWorkbook();
    ASSERT_TRUE(Put(workbook, "A1", "x"));

    EXPECT_EQ(workbook.SaveAs("").status, SaveStatus::kNoFileName);
    EXPECT_EQ(workbook.SaveAs(FileName(folder_.path() / "")).status, SaveStatus::kNoFileName);
    EXPECT_EQ(workbook.SaveAs(FileName(folder_.path() / "missing" / "x.xlsx")).status,
              SaveStatus::kCannotCreate);

    // A file where a folder should be fails even for a user who may write anywhere.
    std::ofstream(folder_.path() / "plain") << "file";
    EXPECT_EQ(workbook.SaveAs(FileName(folder_.path() / "plain" / "x.xlsx")).status,
              SaveStatus::kCannotCreate);

    // A folder under the chosen name cannot be replaced by the file.
    std::filesystem::create_directory(folder_.path() / "taken.xlsx");
    EXPECT_EQ(workbook.SaveAs(FileName(folder_.path() / "taken.xlsx")).status,
              SaveStatus::kCannotReplace);
    EXPECT_EQ(folder_.Listing(), "plain taken.xlsx");
}

}  // namespace
}  // namespace velmora
