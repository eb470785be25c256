#include "SavedWorkbook.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>

namespace velmora::test {
namespace {

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

std::string SavedWorkbook::Text(const std::string& address) const {
    auto found = cells.find(address);
    return found == cells.end() ? std::string() : found->second.utf8;
}

std::optional<SavedWorkbook> ReadSavedWorkbook(const std::filesystem::path& file) {
    const std::string command = std::string(VELMORA_PYTHON) + " " +
                                ShellQuoted(VELMORA_WORKBOOK_READER) + " " +
                                ShellQuoted(file.string());
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;

    SavedWorkbook workbook;
    std::istringstream lines(output);
    std::string word;
    if (!(lines >> word) || word != "sheets" || !(lines >> workbook.sheets)) return std::nullopt;
    std::string address, type, hex;
    while (lines >> address >> type) {
        std::getline(lines, hex);
        if (!hex.empty() && hex.front() == ' ') hex.erase(0, 1);
        workbook.cells[address] = {type.empty() ? '?' : type[0], Unhex(hex)};
    }
    return workbook;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-export-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Listing() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.insert(entry.path().filename().string());
    }
    std::string listing;
    for (const auto& name : names) listing += (listing.empty() ? "" : " ") + name;
    return listing;
}

}  // namespace velmora::test
