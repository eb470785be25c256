#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "platform/VerifiedLibrary.h"

namespace velmora {
namespace {

// The file opened so that others may read it (the loader does) but neither write, rename nor
// delete it, when its bytes are `image`; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenVerified(const std::filesystem::path& path, std::span<const unsigned char> image) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER size{};
    std::vector<unsigned char> bytes;
    if (GetFileSizeEx(file, &size) && static_cast<std::size_t>(size.QuadPart) == image.size()) {
        bytes.resize(image.size());
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
            read != bytes.size())
            bytes.clear();
    }
    if (bytes.empty() || !std::equal(bytes.begin(), bytes.end(), image.begin(), image.end())) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

bool IsVerifiedCopy(const std::filesystem::path& path, std::span<const unsigned char> image) {
    const HANDLE file = OpenVerified(path, image);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::vector<std::filesystem::path> CarriedLibraryPaths(const std::filesystem::path& runDirectory,
                                                       std::string_view name) {
    std::vector<std::filesystem::path> paths{runDirectory / PathFromUtf8(name)};
    if (const std::string own = DataFilePath(name); !own.empty())
        paths.push_back(PathFromUtf8(own));
    return paths;
}

void* LoadVerifiedLibrary(const std::filesystem::path& path, std::span<const unsigned char> image) {
    const HANDLE file = OpenVerified(path, image);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) CloseHandle(file);
    return library;
}

void* LibraryFunction(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace velmora
