#pragma once
// The workbook object the export drives (Excel程序1 with Excel工作簿1): an application that
// holds one workbook of one worksheet in memory, with the automation object's sequence of
// operations. Only SaveAs touches the disk: it writes an Office Open XML workbook.
//
// Like an automation call, an operation on a missing application, workbook or sheet does
// nothing and a read yields the empty text; only SaveAs reports its failure, as a value.

#include <string>
#include <string_view>
#include <vector>

#include "text/Text.h"

namespace velmora {

// Limits of the workbook format and of the spreadsheet application that opens it.
inline constexpr int kMaxSheetRows = 1048576;
inline constexpr int kMaxSheetColumns = 16384;
// Characters one cell can hold, counted in UTF-16 units; longer text is cut there when saved.
inline constexpr int kMaxCellCharacters = 32767;

// A cell position, 1-based.
struct CellPosition {
    int row = 0;
    int column = 0;
};

// "C5" -> {5, 3}; false for anything that is not one cell inside the sheet's limits.
[[nodiscard]] bool ParseCellAddress(std::string_view address, CellPosition& position);

enum class SaveStatus {
    kSaved,
    kNoWorkbook,     // nothing to save: no application, workbook or sheet
    kNoFileName,     // the name is empty
    kCannotCreate,   // the file could not be created in its folder
    kCannotWrite,    // writing the workbook failed (full disk, I/O error)
    kCannotReplace,  // the finished file could not take the chosen name
};

struct SaveResult {
    SaveStatus status = SaveStatus::kNoWorkbook;
    std::string path;  // the file meant (UTF-8), written when saved; empty without a name
    // Why it was not written: a sentence naming the file (SavedFile.h); empty without a name.
    std::string failureReason = {};
    explicit operator bool() const { return status == SaveStatus::kSaved; }
};

// How SaveAs lays out the sheet's strings. Inline strings stream each row to disk as it is
// written, so saving needs no second copy of the sheet; a shared-string table stores each
// distinct text once (smaller files when texts repeat) at the price of holding every cell.
enum class StringStorage { kInline, kShared };

class Workbook {
public:
    explicit Workbook(StringStorage storage = StringStorage::kInline) : storage_(storage) {}

    // create application: whatever was held before is released first.
    void CreateApplication();
    // new workbook: one empty worksheet; the previous workbook, if any, is dropped.
    void AddWorkbook();
    // Sheets.Item(index): the one worksheet is index 1; any other index leaves no current sheet.
    void SelectSheet(int index);
    void Activate() {}

    // The current range, spanned by a start and an end address such as "A2".
    void SetStartAddress(std::string_view address) { startAddress_ = address; }
    void SetEndAddress(std::string_view address) { endAddress_ = address; }
    // Value put on the current range. Ranges are single cells here; a wider or invalid range is
    // not written (false).
    bool SetRangeValue(const Text& value);
    // Value get of the cell at the start address.
    [[nodiscard]] Text StartCellValue() const;

    // Writes the workbook under fileName (system code page). A name without an extension gets
    // ".xlsx", as the spreadsheet application's SaveAs does. The file is written under a
    // temporary name and then takes the target's (platform/ReplaceFile.h), so a failed save
    // leaves an existing file as it was.
    [[nodiscard]] SaveResult SaveAs(const Text& fileName) const;

    // close (the Workbooks collection), release workbook, quit, release application.
    void CloseWorkbooks();
    void ReleaseWorkbook();
    void Quit();
    void ReleaseApplication();

private:
    bool HasSheet() const { return application_ && workbook_ && sheetSelected_; }

    StringStorage storage_;
    bool application_ = false;
    bool workbook_ = false;
    bool sheetSelected_ = false;
    std::string startAddress_;
    std::string endAddress_;
    // rows_[r][c] is the cell at row r + 1, column c + 1; rows grow only as far as written.
    std::vector<std::vector<Text>> rows_;
};

// A cell's text as the workbook file stores it: UTF-8, with every character XML cannot hold
// (C0 controls other than tab and line feed, carriage return, U+FFFE, U+FFFF) written as the
// format's escape _xHHHH_, which spreadsheet applications turn back into the character; a
// literal "_xHHHH_" in the text is protected as "_x005F_xHHHH_" so it is not decoded. The result
// is cut before kMaxCellCharacters would be exceeded, never inside a character or an escape.
[[nodiscard]] std::string CellTextForFile(const Text& text);

}  // namespace velmora
