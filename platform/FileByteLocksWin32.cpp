#include <windows.h>

#include "platform/FileByteLocks.h"

namespace velmora {

namespace {

// Where `byte` is, as LockFileEx takes a position.
OVERLAPPED At(std::uint64_t byte) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(byte);
    at.OffsetHigh = static_cast<DWORD>(byte >> 32);
    return at;
}

}  // namespace

struct FileByteLocks::File {
    HANDLE handle;
};

FileByteLocks::FileByteLocks(const std::filesystem::path& path) {
    // No security attributes: the handle is not inherited. The file takes its folder's access
    // list, which MakePrivateFolders made private.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = static_cast<int>(GetLastError());
        return;
    }
    file_ = std::make_unique<File>(File{handle});
}

FileByteLocks::~FileByteLocks() {
    if (file_) CloseHandle(file_->handle);
}

bool FileByteLocks::TryLock(std::uint64_t byte) {
    if (!file_) return false;
    OVERLAPPED at = At(byte);
    return LockFileEx(file_->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != 0;
}

void FileByteLocks::Unlock(std::uint64_t byte) {
    if (!file_) return;
    OVERLAPPED at = At(byte);
    UnlockFileEx(file_->handle, 0, 1, 0, &at);
}

bool FileByteLocks::LockedElsewhere(std::uint64_t byte) const {
    if (!file_) return false;
    // There is no asking without locking: a shared lock is refused only where another opening
    // holds the byte, and probes of two openings do not refuse each other.
    OVERLAPPED at = At(byte);
    if (LockFileEx(file_->handle, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        OVERLAPPED again = At(byte);
        UnlockFileEx(file_->handle, 0, 1, 0, &again);
        return false;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION;
}

}  // namespace velmora
