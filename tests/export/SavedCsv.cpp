#include "SavedCsv.h"

#include <fstream>
#include <sstream>
#include <string_view>

namespace velmora::test {

std::optional<SavedCsv> ReadSavedCsv(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream read;
    read << in.rdbuf();
    const std::string bytes = read.str();
    SavedCsv csv;
    std::string_view text = bytes;
    csv.byteOrderMark = text.starts_with("\xEF\xBB\xBF");
    if (csv.byteOrderMark) text.remove_prefix(3);
    std::vector<std::string> record;
    std::size_t at = 0;
    while (at < text.size()) {
        std::string field;
        if (text[at] == '"') {
            for (++at;; ++at) {
                if (at >= text.size()) return std::nullopt;
                if (text[at] != '"') {
                    field += text[at];
                } else if (at + 1 < text.size() && text[at + 1] == '"') {
                    field += '"';
                    ++at;
                } else {
                    ++at;
                    break;
                }
            }
        } else {
            while (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n') {
                if (text[at] == '"') return std::nullopt;
                field += text[at++];
            }
        }
        record.push_back(std::move(field));
        if (at < text.size() && text[at] == ',') {
            ++at;
            continue;
        }
        if (text.substr(at, 2) != "\r\n") return std::nullopt;
        at += 2;
        csv.records.push_back(std::move(record));
        record.clear();
    }
    if (!record.empty()) return std::nullopt;  // a last comma without its record's end
    return csv;
}

}  // namespace velmora::test
