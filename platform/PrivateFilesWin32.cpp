#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>

#include <memory>
#include <string>

#include "platform/PrivateFiles.h"

namespace velmora {

namespace {

// The access list of a private folder: full control for the user and for the system's own
// services (backup, indexing), nothing inherited from the folder above; files and folders
// made inside inherit it.
std::wstring PrivateFolderDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<unsigned char[]>(size);
    std::wstring descriptor;
    LPWSTR sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.get(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
        descriptor = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)";
        LocalFree(sid);
    }
    CloseHandle(token);
    return descriptor;
}

// A folder made with the private access list; with the default one when it cannot be built.
bool CreatePrivateDirectory(const std::filesystem::path& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring text = PrivateFolderDescriptor();
    if (!text.empty()) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                             &descriptor, nullptr);
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryW(folder.c_str(), descriptor ? &attributes : nullptr);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return made != 0;
}

}  // namespace

int MakePrivateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return 0;
    if (const DWORD attributes = GetFileAttributesW(folder.c_str());
        attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
    }
    if (const std::filesystem::path parent = folder.parent_path();
        parent != folder && parent.has_relative_path()) {
        if (const int error = MakePrivateFolders(parent); error != 0) return error;
    }
    // Another process may make it meanwhile.
    if (!CreatePrivateDirectory(folder) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return static_cast<int>(GetLastError());
    }
    return 0;
}

int MakePrivateFile(const std::filesystem::path& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS ? 0 : static_cast<int>(error);
}

void KeepPrivate(const std::filesystem::path&) {}

}  // namespace velmora
