#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"

namespace velmora {

const char* const kConfigFolderVariable = "XDG_CONFIG_HOME";
const char* const kDataFolderVariable = "XDG_DATA_HOME";

namespace {

// Enough for any entry of the user database; getpwuid_r says ERANGE otherwise.
constexpr std::size_t kUserEntryBuffer = 16 * 1024;
// The desktop when user-dirs.dirs names none, as the desktops' own fallback.
constexpr std::string_view kDefaultDesktop = "/Desktop";
// The folder file of the user's well-known folders, in the configuration folder.
constexpr std::string_view kUserDirsFile = "/user-dirs.dirs";
constexpr std::string_view kDesktopKey = "XDG_DESKTOP_DIR=";
constexpr std::string_view kHomePrefix = "$HOME";

std::string HomeDirectory() {
    if (std::string home = EnvironmentVariable("HOME"); !home.empty()) return home;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(kUserEntryBuffer);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir) {
        return {};
    }
    return found->pw_dir;
}

// $variable when it holds an absolute path, as the base-directory rules say; else the home
// folder's `fallback`.
std::string BaseDirectory(const char* variable, std::string_view fallback) {
    if (std::string value = EnvironmentVariable(variable); !value.empty() && value.front() == '/')
        return value;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + std::string(fallback);
}

std::string ConfigDirectory() {
    return BaseDirectory(kConfigFolderVariable, "/.config");
}

std::string ProgramFilePath(const std::string& base, std::string_view name) {
    if (base.empty()) return {};
    return base + "/" + std::string(kProgramFolderName) + "/" + std::string(name);
}

bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The value of a line XDG_DESKTOP_DIR="...": a shell word in double quotes, its backslashes
// escaping the next character; "$HOME" at its start stands for the home folder. Empty when the
// line is not one of the two forms the file may hold.
std::string DesktopOfLine(std::string_view line, const std::string& home) {
    if (line.substr(0, kDesktopKey.size()) != kDesktopKey) return {};
    line.remove_prefix(kDesktopKey.size());
    if (line.empty() || line.front() != '"') return {};
    std::string value;
    bool closed = false;
    for (std::size_t i = 1; i < line.size() && !closed; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            value += line[++i];
        } else if (line[i] == '"') {
            closed = true;
        } else {
            value += line[i];
        }
    }
    if (!closed) return {};
    if (value.substr(0, kHomePrefix.size()) == kHomePrefix &&
        (value.size() == kHomePrefix.size() || value[kHomePrefix.size()] == '/')) {
        if (home.empty()) return {};
        value = home + value.substr(kHomePrefix.size());
    }
    if (value.empty() || value.front() != '/') return {};
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
}

// "$variable/velmora/name (fallback/velmora/name)", built by appending: GCC 12 warns wrongly of
// an overlapping copy in "literal" + std::string at -O3.
std::string Description(const char* variable, std::string_view fallback, std::string_view name) {
    std::string inFolder = "/";
    inFolder.append(kProgramFolderName).append("/").append(name);
    std::string description = "$";
    description.append(variable).append(inFolder).append(" (").append(fallback);
    return description.append(inFolder).append(")");
}

}  // namespace

std::string ConfigFilePath(std::string_view name) {
    return ProgramFilePath(ConfigDirectory(), name);
}

std::string DataFilePath(std::string_view name) {
    return ProgramFilePath(BaseDirectory(kDataFolderVariable, "/.local/share"), name);
}

std::string ConfigFileDescription(std::string_view name) {
    return Description(kConfigFolderVariable, "~/.config", name);
}

std::string DataFileDescription(std::string_view name) {
    return Description(kDataFolderVariable, "~/.local/share", name);
}

std::string UserRuntimeDirectory() {
    if (std::string runtime = EnvironmentVariable("XDG_RUNTIME_DIR");
        !runtime.empty() && runtime.front() == '/') {
        if (IsPrivateDirectory(runtime)) return runtime;
    }
    // /tmp is shared: use a directory of our own and only when nobody else can have made it.
    std::string fallback = "/tmp/velmora-" + std::to_string(geteuid());
    mkdir(fallback.c_str(), 0700);
    return IsPrivateDirectory(fallback) ? fallback : std::string();
}

std::string UserDesktopDirectory() {
    const std::string home = HomeDirectory();
    std::string desktop;
    if (const std::string config = ConfigDirectory(); !config.empty()) {
        std::ifstream dirs(PathFromUtf8(config + std::string(kUserDirsFile)));
        // The last line wins, as when the shell reads the file.
        for (std::string line; std::getline(dirs, line);) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos) continue;
            if (std::string named = DesktopOfLine(std::string_view(line).substr(start), home);
                !named.empty()) {
                desktop = std::move(named);
            }
        }
    }
    if (!desktop.empty()) return desktop;
    return home.empty() ? std::string() : home + std::string(kDefaultDesktop);
}

}  // namespace velmora
