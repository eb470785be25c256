#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <vector>

#include "platform/ReadOnly.h"

namespace velmora {

namespace {

// What a read-only folder denies everyone: new files and new folders in it.
constexpr DWORD kFolderAdditions = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

bool IsFolderDenial(const ACE_HEADER* header, PSID everyone) {
    if (header->AceType != ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERITED_ACE) != 0) {
        return false;
    }
    const auto* ace = reinterpret_cast<const ACCESS_DENIED_ACE*>(header);
    return ace->Mask == kFolderAdditions &&
           EqualSid(const_cast<DWORD*>(&ace->SidStart), everyone) != 0;
}

// The folder's access list again, with the denial first (where a denial must stand to count
// before the grants) or without it; every other entry as it was.
DWORD SetFolderReadOnly(const std::filesystem::path& folder, bool readOnly) {
    alignas(DWORD) unsigned char everyoneSid[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof everyoneSid;
    const PSID everyone = everyoneSid;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidBytes)) return GetLastError();

    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (const DWORD error =
            GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &old, nullptr, &descriptor);
        error != ERROR_SUCCESS) {
        return error;
    }
    ACL_SIZE_INFORMATION sizes{};
    if (old != nullptr) GetAclInformation(old, &sizes, sizeof sizes, AclSizeInformation);
    const DWORD revision = old != nullptr ? old->AclRevision : ACL_REVISION;
    // Room for the old entries, the denial and, where there was no list at all, the grant to
    // everyone that no list meant.
    const DWORD entryBytes = sizeof(ACCESS_DENIED_ACE) - sizeof(DWORD) + GetLengthSid(everyone);
    const DWORD aclBytes = sizeof(ACL) + sizes.AclBytesInUse + 2 * entryBytes;
    std::vector<DWORD> storage((aclBytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    const auto acl = reinterpret_cast<PACL>(storage.data());
    bool built = InitializeAcl(acl, aclBytes, revision) &&
                 (!readOnly || AddAccessDeniedAce(acl, revision, kFolderAdditions, everyone)) &&
                 (old != nullptr || AddAccessAllowedAce(acl, revision, FILE_ALL_ACCESS, everyone));
    for (DWORD i = 0; built && old != nullptr && i < sizes.AceCount; ++i) {
        void* entry = nullptr;
        built = GetAce(old, i, &entry) != 0;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (built && !IsFolderDenial(header, everyone)) {
            built = AddAce(acl, revision, MAXDWORD, entry, header->AceSize) != 0;
        }
    }
    DWORD error = built ? ERROR_SUCCESS : GetLastError();
    LocalFree(descriptor);
    if (error == ERROR_SUCCESS) {
        error = SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    }
    return error;
}

}  // namespace

int SetReadOnly(const std::filesystem::path& path, bool readOnly) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return static_cast<int>(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return static_cast<int>(SetFolderReadOnly(path, readOnly));
    }
    // "Normal" stands only alone.
    DWORD changed = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    changed = readOnly ? changed | FILE_ATTRIBUTE_READONLY : changed & ~FILE_ATTRIBUTE_READONLY;
    if (changed == 0) changed = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(path.c_str(), changed) ? 0 : static_cast<int>(GetLastError());
}

}  // namespace velmora
