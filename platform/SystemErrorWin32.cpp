#include <windows.h>

#include "platform/SystemError.h"

namespace velmora {

namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers do not name.
constexpr DWORD kDiskQuotaExceeded = 1295;

}  // namespace

StorageErrorKind KindOfStorageError(int systemError) {
    switch (static_cast<DWORD>(systemError)) {
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return StorageErrorKind::kNotWritable;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case kDiskQuotaExceeded:
        case ERROR_FILE_TOO_LARGE:
            return StorageErrorKind::kFull;
        default:
            return StorageErrorKind::kOther;
    }
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

}  // namespace velmora
