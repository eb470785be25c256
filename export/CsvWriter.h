#pragma once
// The CSV format (CsvFile.h): the rows are kept as the file's text, counted as they are
// written, and the text is saved whole.

#include <cstddef>
#include <string>
#include <string_view>

#include "export/CsvFile.h"
#include "export/ExportWriter.h"

namespace velmora {

class CsvWriter final : public ExportWriter {
public:
    void WriteHeader(std::span<const ExportColumn> columns) override;
    void WriteRow(std::span<const Text> cells) override;
    int CountRecords(const std::function<void(int)>& rowCounted) override;
    [[nodiscard]] SaveResult Save(const Text& fileName) override;

private:
    // Adds one field (UTF-8) of a line of `fields` fields, with what ends it.
    void AddField(std::string_view utf8, std::size_t index, std::size_t fields);

    std::string csv_{kUtf8ByteOrderMark};
    // The rows with a first cell, which is what the workbook's reading back counts.
    int records_ = 0;
};

}  // namespace velmora
