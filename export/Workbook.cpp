#include "export/Workbook.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "export/SavedFile.h"
#include "platform/ReplaceFile.h"
#include "platform/SystemError.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// The extension the spreadsheet application gives a name that has none.
constexpr const char* kDefaultExtension = ".xlsx";
// Length of the escape _xHHHH_ in characters.
constexpr int kEscapeLength = 7;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// True when utf8[at] starts a literal "_xHHHH_", which a reader would decode.
bool StartsEscape(std::string_view utf8, size_t at) {
    if (utf8.size() - at < static_cast<size_t>(kEscapeLength)) return false;
    if (utf8[at] != '_' || utf8[at + 1] != 'x' || utf8[at + 6] != '_') return false;
    for (size_t i = at + 2; i < at + 6; ++i) {
        if (!IsHexDigit(utf8[i])) return false;
    }
    return true;
}

size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

char32_t DecodeUtf8(std::string_view sequence) {
    auto byte = [&](size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(sequence[i]));
    };
    switch (sequence.size()) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

bool XmlCannotHold(char32_t c) {
    return (c < 0x20 && c != U'\t' && c != U'\n') || c == 0xFFFE || c == 0xFFFF;
}

std::string Escape(char32_t c) {
    char buffer[kEscapeLength + 1];
    std::snprintf(buffer, sizeof buffer, "_x%04X_", static_cast<unsigned>(c));
    return buffer;
}

}  // namespace

bool ParseCellAddress(std::string_view address, CellPosition& position) {
    size_t i = 0;
    long column = 0;
    while (i < address.size() && address[i] >= 'A' && address[i] <= 'Z') {
        column = column * 26 + (address[i] - 'A' + 1);
        if (column > kMaxSheetColumns) return false;
        ++i;
    }
    if (i == 0 || i == address.size() || address[i] == '0') return false;
    long row = 0;
    for (; i < address.size(); ++i) {
        if (address[i] < '0' || address[i] > '9') return false;
        row = row * 10 + (address[i] - '0');
        if (row > kMaxSheetRows) return false;
    }
    position = {static_cast<int>(row), static_cast<int>(column)};
    return true;
}

std::string CellTextForFile(const Text& text) {
    std::string utf8 = SystemToUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    int characters = 0;
    for (size_t at = 0; at < utf8.size();) {
        size_t length =
            std::min(Utf8SequenceLength(static_cast<unsigned char>(utf8[at])), utf8.size() - at);
        std::string_view sequence(utf8.data() + at, length);
        char32_t c = DecodeUtf8(sequence);
        std::string piece;
        int cost = 1;
        if (XmlCannotHold(c)) {
            piece = Escape(c);
            cost = kEscapeLength;
        } else if (StartsEscape(utf8, at)) {
            piece = Escape(U'_');
            cost = kEscapeLength;
        } else {
            piece = sequence;
            cost = c >= 0x10000 ? 2 : 1;  // a UTF-16 surrogate pair
        }
        if (characters + cost > kMaxCellCharacters) break;
        characters += cost;
        out += piece;
        at += length;
    }
    return out;
}

void Workbook::CreateApplication() {
    ReleaseWorkbook();
    application_ = true;
}

void Workbook::AddWorkbook() {
    ReleaseWorkbook();
    workbook_ = application_;
}

void Workbook::SelectSheet(int index) {
    sheetSelected_ = workbook_ && index == 1;
}

bool Workbook::SetRangeValue(const Text& value) {
    CellPosition start;
    CellPosition end;
    if (!HasSheet() || !ParseCellAddress(startAddress_, start) ||
        !ParseCellAddress(endAddress_, end) || start.row != end.row || start.column != end.column) {
        return false;
    }
    auto row = static_cast<size_t>(start.row - 1);
    auto column = static_cast<size_t>(start.column - 1);
    if (value.empty() && (row >= rows_.size() || column >= rows_[row].size())) return true;
    if (row >= rows_.size()) rows_.resize(row + 1);
    if (column >= rows_[row].size()) rows_[row].resize(column + 1);
    rows_[row][column] = value;
    return true;
}

Text Workbook::StartCellValue() const {
    CellPosition at;
    if (!HasSheet() || !ParseCellAddress(startAddress_, at)) return {};
    auto row = static_cast<size_t>(at.row - 1);
    auto column = static_cast<size_t>(at.column - 1);
    if (row >= rows_.size() || column >= rows_[row].size()) return {};
    return rows_[row][column];
}

SaveResult Workbook::SaveAs(const Text& fileName) const {
    if (!HasSheet()) return {SaveStatus::kNoWorkbook, {}};
    std::filesystem::path target = PathFromUtf8(SystemToUtf8(fileName));
    if (!target.has_filename()) return {SaveStatus::kNoFileName, {}};
    if (!target.has_extension()) target += kDefaultExtension;

    // libxlsxwriter writes the fresh file itself, opening it by a char name.
    FileReplacement replacement(target, FileAccess::kUsual);
    if (!replacement.created()) {
        return FailedSave(SaveStatus::kCannotCreate, target, replacement.failure());
    }
    const std::string temporary = replacement.NameForLibrary();
    if (temporary.empty()) {
        return FailedSave(SaveStatus::kCannotCreate, target, replacement.failure());
    }
    // The library reports no reason of its own: the system's last error right after it failed
    // tells one.
    const auto libraryFailed = [&] {
        return FailedSave(SaveStatus::kCannotWrite, target,
                          WriteFailureOfStorageError(LastSystemError()));
    };

    lxw_workbook_options options{};
    options.constant_memory = storage_ == StringStorage::kInline ? LXW_TRUE : LXW_FALSE;
    lxw_workbook* file = workbook_new_opt(temporary.c_str(), &options);
    if (file == nullptr) return libraryFailed();
    lxw_worksheet* sheet = workbook_add_worksheet(file, nullptr);
    bool written = sheet != nullptr;
    // Row by row, left to right: the order inline strings are streamed in.
    for (size_t r = 0; written && r < rows_.size(); ++r) {
        for (size_t c = 0; written && c < rows_[r].size(); ++c) {
            if (rows_[r][c].empty()) continue;
            written = worksheet_write_string(
                          sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                          CellTextForFile(rows_[r][c]).c_str(), nullptr) == LXW_NO_ERROR;
        }
    }
    // workbook_close frees the workbook whatever it reports.
    written = (workbook_close(file) == LXW_NO_ERROR) && written;
    if (!written) return libraryFailed();
    return SaveResultOf(replacement, replacement.Commit(), target);
}

void Workbook::CloseWorkbooks() {
    workbook_ = false;
    sheetSelected_ = false;
}

void Workbook::ReleaseWorkbook() {
    CloseWorkbooks();
    startAddress_.clear();
    endAddress_.clear();
    rows_.clear();
    rows_.shrink_to_fit();
}

void Workbook::Quit() {
    CloseWorkbooks();
    application_ = false;
}

void Workbook::ReleaseApplication() {
    ReleaseWorkbook();
    application_ = false;
}

}  // namespace velmora
