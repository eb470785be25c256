#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>

#include "platform/ReplaceFile.h"

namespace velmora {

namespace {

// Random names tried before giving up; a collision needs another writer in the same folder.
constexpr int kTemporaryNameAttempts = 16;
// WriteFile takes a 32-bit count.
constexpr std::size_t kMaxWriteBytes = std::size_t{1} << 30;

// The longest name of one file that NTFS and FAT hold, in UTF-16 units.
constexpr std::size_t kLongestFileName = 255;

bool IsReadOnlyFile(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
               FILE_ATTRIBUTE_READONLY;
}

// Whether another program holds `path` open without letting others delete it, as a
// spreadsheet application holds the workbook it shows: a replacement needs that right.
bool IsHeldOpen(const std::filesystem::path& path) {
    const HANDLE handle =
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// No file system of Windows holds such a name, whatever error the system gives for it
// (ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_NAME or, under Wine, ERROR_PATH_NOT_FOUND).
bool HasOverlongName(const std::filesystem::path& path) {
    for (const std::filesystem::path& part : path.relative_path()) {
        if (part.native().size() > kLongestFileName) return true;
    }
    return false;
}

WriteFailure FailureOf(DWORD error, const std::filesystem::path& target) {
    if (HasOverlongName(target)) return WriteFailure::kNameTooLong;
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return WriteFailure::kHeldOpen;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return WriteFailure::kNoFolder;
        // Replacing a file that is open, or read-only, is refused as access denied too.
        case ERROR_ACCESS_DENIED:
            if (const DWORD attributes = GetFileAttributesW(target.c_str());
                attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                return WriteFailure::kOther;  // a folder holds the name
            if (IsHeldOpen(target)) return WriteFailure::kHeldOpen;
            if (IsReadOnlyFile(target)) return WriteFailure::kReadOnlyFile;
            return WriteFailure::kFolderNotWritable;
        case ERROR_FILENAME_EXCED_RANGE:
            return WriteFailure::kNameTooLong;
        default:
            return WriteFailureOfStorageError(static_cast<int>(error));
    }
}

// A fresh file in `folder` that nobody else uses, open for writing; CREATE_NEW, so an existing
// name, a link included, is never opened. Its access list is its folder's, whatever the
// FileAccess.
HANDLE CreateFresh(const std::filesystem::path& folder, std::filesystem::path& path) {
    std::random_device seed;
    std::mt19937 generator(seed());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".velmora-%08x~", static_cast<unsigned>(generator()));
        path = folder / name;
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// 0 when done, else the error.
DWORD WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteBytes));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_DISK_FULL;
        bytes.remove_prefix(written);
    }
    return 0;
}

bool IsAscii(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

// The path in ASCII and shorter than MAX_PATH, which a library's char name means alike whether
// it reads it in the ANSI code page or as UTF-8, and which the char functions it calls take:
// the path itself, or its short (8.3) form. Empty when neither is such a name.
std::string AsciiName(const std::filesystem::path& path) {
    std::wstring name = path.native();
    if (!IsAscii(name) || name.size() >= MAX_PATH) {
        wchar_t shortName[MAX_PATH + 1];
        const DWORD length = GetShortPathNameW(path.c_str(), shortName, MAX_PATH + 1);
        if (length == 0 || length >= MAX_PATH) return {};
        name.assign(shortName, length);
        if (!IsAscii(name)) return {};
    }
    return std::string(name.begin(), name.end());
}

// Flushes a finished file to the disk, so that a write error the system reports late still
// counts. 0 when done, else the error.
DWORD FlushFile(const std::filesystem::path& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = FlushFileBuffers(handle) ? 0 : GetLastError();
    if (!CloseHandle(handle) && error == 0) error = GetLastError();
    return error;
}

}  // namespace

struct FileReplacement::Fresh {
    std::filesystem::path target;
    // Short and fixed in shape, so that a target name at the length limit works.
    std::filesystem::path path;
    HANDLE handle = INVALID_HANDLE_VALUE;  // closed once a library writes it
    bool written = true;
    // In the temporary-files folder, which may be on another volume than the target.
    bool elsewhere = false;
    bool committed = false;
};

FileReplacement::FileReplacement(const std::filesystem::path& target, FileAccess) {
    // MoveFileExW would refuse it only after the whole file was written.
    if (IsReadOnlyFile(target)) {
        failure_ = WriteFailure::kReadOnlyFile;
        return;
    }
    std::filesystem::path path;
    const HANDLE handle = CreateFresh(target.parent_path(), path);
    if (handle == INVALID_HANDLE_VALUE) {
        failure_ = FailureOf(GetLastError(), target);
        return;
    }
    fresh_ = std::make_unique<Fresh>(Fresh{target, std::move(path), handle});
}

FileReplacement::~FileReplacement() {
    if (!fresh_) return;
    if (fresh_->handle != INVALID_HANDLE_VALUE) CloseHandle(fresh_->handle);
    if (!fresh_->committed) DeleteFileW(fresh_->path.c_str());
}

bool FileReplacement::created() const {
    return fresh_ != nullptr;
}

bool FileReplacement::Write(std::string_view bytes) {
    if (!fresh_ || fresh_->handle == INVALID_HANDLE_VALUE || !fresh_->written) return false;
    if (const DWORD error = WriteAll(fresh_->handle, bytes); error != 0) {
        fresh_->written = false;
        failure_ = FailureOf(error, fresh_->target);
    }
    return fresh_->written;
}

std::string FileReplacement::NameForLibrary() {
    if (!fresh_) return {};
    if (fresh_->handle != INVALID_HANDLE_VALUE) {
        if (!CloseHandle(fresh_->handle) && fresh_->written) {
            fresh_->written = false;
            failure_ = FailureOf(GetLastError(), fresh_->target);
        }
        fresh_->handle = INVALID_HANDLE_VALUE;
    }
    std::string name = AsciiName(fresh_->path);
    if (!name.empty() || fresh_->elsewhere) return name;
    // The target's folder has no ASCII name: the library writes in the temporary-files folder,
    // and Commit moves the file across.
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    std::filesystem::path path;
    const HANDLE handle = error ? INVALID_HANDLE_VALUE : CreateFresh(temporary, path);
    if (handle == INVALID_HANDLE_VALUE) return {};
    CloseHandle(handle);
    DeleteFileW(fresh_->path.c_str());
    fresh_->path = std::move(path);
    fresh_->elsewhere = true;
    return AsciiName(fresh_->path);
}

ReplaceOutcome FileReplacement::Commit() {
    if (!fresh_) return ReplaceOutcome::kCannotCreate;
    if (!fresh_->written) return ReplaceOutcome::kCannotWrite;
    DWORD error = 0;
    if (fresh_->handle != INVALID_HANDLE_VALUE) {
        error = FlushFileBuffers(fresh_->handle) ? 0 : GetLastError();
        if (!CloseHandle(fresh_->handle) && error == 0) error = GetLastError();
        fresh_->handle = INVALID_HANDLE_VALUE;
    } else {
        error = FlushFile(fresh_->path);
    }
    if (error != 0) {
        failure_ = FailureOf(error, fresh_->target);
        return ReplaceOutcome::kCannotWrite;
    }
    // Replaces a link under the target's name rather than the file it points to.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH |
                        (fresh_->elsewhere ? MOVEFILE_COPY_ALLOWED : 0);
    if (!MoveFileExW(fresh_->path.c_str(), fresh_->target.c_str(), flags)) {
        failure_ = FailureOf(GetLastError(), fresh_->target);
        return ReplaceOutcome::kCannotReplace;
    }
    fresh_->committed = true;
    return ReplaceOutcome::kReplaced;
}

}  // namespace velmora
