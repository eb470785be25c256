#include "export/CsvWriter.h"

#include "text/CodePage.h"

namespace velmora {

void CsvWriter::AddField(std::string_view utf8, std::size_t index, std::size_t fields) {
    csv_ += CsvField(utf8);
    csv_ += index + 1 < fields ? std::string_view(",") : kCsvLineEnd;
}

void CsvWriter::WriteHeader(std::span<const ExportColumn> columns) {
    for (std::size_t c = 0; c < columns.size(); ++c) AddField(columns[c].header, c, columns.size());
}

void CsvWriter::WriteRow(std::span<const Text> cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const std::string cell = SystemToUtf8(cells[c]);
        if (c == 0 && !cell.empty()) ++records_;
        AddField(cell, c, cells.size());
    }
}

int CsvWriter::CountRecords(const std::function<void(int)>& /*rowCounted*/) {
    return records_;
}

SaveResult CsvWriter::Save(const Text& fileName) {
    return SaveCsv(fileName, csv_);
}

}  // namespace velmora
