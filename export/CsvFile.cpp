#include "export/CsvFile.h"

#include <filesystem>

#include "export/SavedFile.h"
#include "platform/ReplaceFile.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr std::string_view kCsvExtension = ".csv";
constexpr std::string_view kFormulaStarts = "=+-@\t\r";
constexpr std::string_view kExtensionMarks[] = {"转", "ext", "EXT", "Ext"};

bool LooksLikeTelephone(std::string_view utf8) {
    bool digit = false;
    for (std::size_t at = 0; at < utf8.size();) {
        const char c = utf8[at];
        if (c >= '0' && c <= '9') {
            digit = true;
            ++at;
            continue;
        }
        // A "+" only as a country prefix: "+1+2" is a sum.
        if (c == ' ' || (c == '+' && at == 0) || c == '-' || c == '(' || c == ')') {
            ++at;
            continue;
        }
        bool mark = false;
        for (const std::string_view extension : kExtensionMarks) {
            if (utf8.substr(at, extension.size()) == extension) {
                at += extension.size();
                mark = true;
                break;
            }
        }
        if (!mark) return false;
    }
    return digit;
}

}  // namespace

bool IsCsvFileName(const Text& fileName) {
    if (fileName.size() < kCsvExtension.size()) return false;
    const std::string_view end =
        std::string_view(fileName).substr(fileName.size() - kCsvExtension.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = end[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kCsvExtension[i]) {
            return false;
        }
    }
    return true;
}

bool RunsAsFormula(std::string_view utf8) {
    return !utf8.empty() && kFormulaStarts.find(utf8.front()) != std::string_view::npos &&
           !LooksLikeTelephone(utf8);
}

std::string CsvField(std::string_view utf8) {
    std::string field;
    if (RunsAsFormula(utf8)) field += '\'';
    field += utf8;
    if (field.find_first_of("\",\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    quoted += '"';
    return quoted;
}

SaveResult SaveCsv(const Text& fileName, std::string_view csv) {
    const std::filesystem::path target = PathFromUtf8(SystemToUtf8(fileName));
    if (!target.has_filename()) return {SaveStatus::kNoFileName, {}};
    // A file others may read, as the workbook is.
    FileReplacement replacement(target, FileAccess::kUsual);
    if (replacement.created()) (void)replacement.Write(csv);
    return SaveResultOf(replacement, replacement.Commit(), target);
}

}  // namespace velmora
