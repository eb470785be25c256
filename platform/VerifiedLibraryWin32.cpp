#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/VerifiedLibrary.h"

namespace velmora {

void* LoadVerifiedLibrary(const std::filesystem::path& path, std::span<const unsigned char> image) {
    // Others may read (the loader does) but neither write, rename nor delete it.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
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
        return nullptr;
    }
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) CloseHandle(file);
    return library;
}

void* LibraryFunction(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace velmora
