#include <windows.h>
// After windows.h, which it needs.
#include <knownfolders.h>
#include <shlobj.h>

#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"

namespace velmora {

const char* const kConfigFolderVariable = "APPDATA";
const char* const kDataFolderVariable = "LOCALAPPDATA";

namespace {

std::filesystem::path KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder))) path = folder;
    CoTaskMemFree(folder);
    return path;
}

// %variable% when it holds an absolute path, as tests and portable installations set it; else
// the known folder it names.
std::filesystem::path BaseFolder(const char* variable, REFKNOWNFOLDERID id) {
    if (std::filesystem::path value = PathFromUtf8(EnvironmentVariable(variable));
        value.is_absolute()) {
        return value;
    }
    return KnownFolder(id);
}

std::string ProgramFilePath(const std::filesystem::path& base, std::string_view name) {
    if (base.empty()) return {};
    return Utf8FromPath(base / PathFromUtf8(kProgramFolderName) / PathFromUtf8(name));
}

// "%variable%\\velmora\\name", built by appending: GCC 12 warns wrongly of an overlapping copy
// in "literal" + std::string at -O3.
std::string Description(const char* variable, std::string_view name) {
    std::string description = "%";
    description.append(variable).append("%\\").append(kProgramFolderName).append("\\");
    return description.append(name);
}

}  // namespace

std::string ConfigFilePath(std::string_view name) {
    return ProgramFilePath(BaseFolder(kConfigFolderVariable, FOLDERID_RoamingAppData), name);
}

std::string DataFilePath(std::string_view name) {
    return ProgramFilePath(BaseFolder(kDataFolderVariable, FOLDERID_LocalAppData), name);
}

std::string ConfigFileDescription(std::string_view name) {
    return Description(kConfigFolderVariable, name);
}

std::string DataFileDescription(std::string_view name) {
    return Description(kDataFolderVariable, name);
}

std::string UserRuntimeDirectory() {
    // The user's own temporary folder: under the profile, which only the user may enter.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {};
    std::filesystem::path path(std::wstring(folder, length));
    return Utf8FromPath(path.has_filename() ? path : path.parent_path());
}

std::string UserDesktopDirectory() {
    return Utf8FromPath(KnownFolder(FOLDERID_Desktop));
}

}  // namespace velmora
