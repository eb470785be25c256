#pragma once
// What the export writes a file through, one writer per format: the header row, the data rows,
// the count of records and the save. The export drives every format in the same order and lets
// the window in between; only which writer it takes depends on the file name.

#include <functional>
#include <span>

#include "export/Export.h"
#include "export/Workbook.h"
#include "text/Text.h"

namespace velmora {

class ExportWriter {
public:
    virtual ~ExportWriter() = default;

    // The first row: the columns' headers, in order.
    virtual void WriteHeader(std::span<const ExportColumn> columns) = 0;
    // The next data row: one cell (system code page) for each column of the header.
    virtual void WriteRow(std::span<const Text> cells) = 0;
    // The data rows written that have a first cell: what the export reports. A writer that
    // reads its rows back to count them calls rowCounted(n) after the n-th.
    virtual int CountRecords(const std::function<void(int)>& rowCounted) = 0;
    // Writes the file under fileName (system code page) and lets go of what the writer held.
    [[nodiscard]] virtual SaveResult Save(const Text& fileName) = 0;
};

}  // namespace velmora
