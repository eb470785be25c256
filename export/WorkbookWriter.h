#pragma once
// The workbook format: the rows go into the workbook object cell by cell, are read back from
// it to be counted, and SaveAs writes the file.

#include "export/ExportWriter.h"
#include "export/Workbook.h"

namespace velmora {

class WorkbookWriter final : public ExportWriter {
public:
    // Makes a new workbook in `workbook` (the application, its workbook, the first sheet) and
    // writes into it until Save lets all of it go.
    explicit WorkbookWriter(Workbook& workbook);

    void WriteHeader(std::span<const ExportColumn> columns) override;
    void WriteRow(std::span<const Text> cells) override;
    int CountRecords(const std::function<void(int)>& rowCounted) override;
    [[nodiscard]] SaveResult Save(const Text& fileName) override;

private:
    // Sheet cell access on the workbook object, 1-based.
    void WriteCell(int row, int column, const Text& text);
    [[nodiscard]] Text ReadCell(int row, int column);

    Workbook& workbook_;
    int rowsWritten_ = 0;  // the header's included
};

}  // namespace velmora
