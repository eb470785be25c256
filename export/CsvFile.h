#pragma once
// Exports as CSV, what CRMs import: UTF-8 with a byte order mark (without it Excel on a Chinese
// Windows reads the file as GBK and garbles it), lines ended by CR LF, fields quoted as RFC 4180
// says, and cells that a spreadsheet would run as a formula made text.

#include <string>
#include <string_view>

#include "export/Workbook.h"
#include "text/Text.h"

namespace velmora {

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
inline constexpr std::string_view kCsvLineEnd = "\r\n";

// True when the file name (system code page) ends in ".csv", in any case: such a name is
// exported as CSV, any other as a workbook.
[[nodiscard]] bool IsCsvFileName(const Text& fileName);

// True for a cell a spreadsheet would run as a formula: one starting with "=", "+", "-", "@", a
// tab or a CR, unless it looks like a telephone number (only digits, blanks, "-", parentheses,
// 转 and ext, with a digit among them, and "+" at the start), which no spreadsheet can run as
// anything harmful and which a CRM should get as it is.
[[nodiscard]] bool RunsAsFormula(std::string_view utf8);

// One field as a CSV line holds it: behind an apostrophe when it would run as a formula (what
// spreadsheets read as "this is text"), then in double quotes, its own doubled, when it holds a
// double quote, a comma, a CR or an LF.
[[nodiscard]] std::string CsvField(std::string_view utf8);

// Writes the whole text under fileName (system code page) through a fresh file renamed over
// it, so a failed save leaves an existing file as it was.
[[nodiscard]] SaveResult SaveCsv(const Text& fileName, std::string_view csv);

}  // namespace velmora
