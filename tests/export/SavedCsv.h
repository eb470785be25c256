#pragma once
// A saved CSV file as a strict RFC 4180 reader sees it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

struct SavedCsv {
    bool byteOrderMark = false;
    std::vector<std::vector<std::string>> records;  // fields as written, quotes undone
};

// nullopt when the file cannot be read or breaks RFC 4180: a CR or LF outside quotes that is not
// a record's CR LF, a quote inside an unquoted field, anything but a comma or a record's end after
// a closing quote, a quoted field never closed, a last record without its CR LF.
std::optional<SavedCsv> ReadSavedCsv(const std::filesystem::path& file);

}  // namespace velmora::test
