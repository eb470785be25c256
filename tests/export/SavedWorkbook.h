#pragma once
// A saved workbook as an independent reader (openpyxl) sees it.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "tests/ScratchFolder.h"

namespace velmora::test {

struct SavedCell {
    char type = 0;     // openpyxl's data type: 's' text, 'n' number, 'f' formula, ...
    std::string utf8;  // the value, escapes decoded
};

struct SavedWorkbook {
    int sheets = 0;
    std::map<std::string, SavedCell> cells;  // non-empty cells of the first sheet by address

    // The text of a cell, or the empty string for an empty one.
    std::string Text(const std::string& address) const;
};

// nullopt when the reader cannot open the file as a workbook.
std::optional<SavedWorkbook> ReadSavedWorkbook(const std::filesystem::path& file);

}  // namespace velmora::test
