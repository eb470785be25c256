#include "export/WorkbookWriter.h"

#include <cstddef>

#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

Text CellAddress(int row, int column) {
    return ConcatText(ColumnLetter(column), ToText(row));
}

}  // namespace

WorkbookWriter::WorkbookWriter(Workbook& workbook) : workbook_(workbook) {
    workbook_.CreateApplication();
    workbook_.AddWorkbook();
    workbook_.SelectSheet(1);
    workbook_.Activate();
    workbook_.SelectSheet(1);
}

void WorkbookWriter::WriteHeader(std::span<const ExportColumn> columns) {
    ++rowsWritten_;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        WriteCell(rowsWritten_, static_cast<int>(c) + 1, Utf8ToSystem(columns[c].header));
    }
}

void WorkbookWriter::WriteRow(std::span<const Text> cells) {
    ++rowsWritten_;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        WriteCell(rowsWritten_, static_cast<int>(c) + 1, cells[c]);
    }
}

int WorkbookWriter::CountRecords(const std::function<void(int)>& rowCounted) {
    // The data rows only: the header is not a record.
    int count = 0;
    for (int row = 2; row <= rowsWritten_; ++row) {
        if (!ReadCell(row, 1).empty()) ++count;
        rowCounted(row - 1);
    }
    return count;
}

SaveResult WorkbookWriter::Save(const Text& fileName) {
    SaveResult saved = workbook_.SaveAs(fileName);
    workbook_.CloseWorkbooks();
    workbook_.ReleaseWorkbook();
    workbook_.Quit();
    workbook_.ReleaseApplication();
    return saved;
}

void WorkbookWriter::WriteCell(int row, int column, const Text& text) {
    const Text address = CellAddress(row, column);
    workbook_.SetStartAddress(address);
    workbook_.SetEndAddress(address);
    // A refused write reads back empty, as a failed call would.
    (void)workbook_.SetRangeValue(text);
}

Text WorkbookWriter::ReadCell(int row, int column) {
    workbook_.SetStartAddress(CellAddress(row, column));
    return workbook_.StartCellValue();
}

}  // namespace velmora
