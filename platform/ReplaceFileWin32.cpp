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

bool WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteBytes));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool IsAscii(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

// The path in ASCII, which a library's char name means alike whether it reads it in the ANSI
// code page or as UTF-8: the path itself, or its short (8.3) form. Empty when neither is ASCII.
std::string AsciiName(const std::filesystem::path& path) {
    std::wstring name = path.native();
    if (!IsAscii(name)) {
        wchar_t shortName[MAX_PATH + 1];
        const DWORD length = GetShortPathNameW(path.c_str(), shortName, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH) return {};
        name.assign(shortName, length);
        if (!IsAscii(name)) return {};
    }
    return std::string(name.begin(), name.end());
}

// Flushes a finished file to the disk, so that a write error the system reports late still
// counts.
bool FlushFile(const std::filesystem::path& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    return CloseHandle(handle) != 0 && flushed;
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
    std::filesystem::path path;
    const HANDLE handle = CreateFresh(target.parent_path(), path);
    if (handle != INVALID_HANDLE_VALUE)
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
    if (!fresh_ || fresh_->handle == INVALID_HANDLE_VALUE) return false;
    fresh_->written = fresh_->written && WriteAll(fresh_->handle, bytes);
    return fresh_->written;
}

std::string FileReplacement::NameForLibrary() {
    if (!fresh_) return {};
    if (fresh_->handle != INVALID_HANDLE_VALUE) {
        fresh_->written = CloseHandle(fresh_->handle) != 0 && fresh_->written;
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
    bool written = fresh_->written;
    if (fresh_->handle != INVALID_HANDLE_VALUE) {
        written = FlushFileBuffers(fresh_->handle) != 0 && written;
        written = CloseHandle(fresh_->handle) != 0 && written;
        fresh_->handle = INVALID_HANDLE_VALUE;
    } else {
        written = written && FlushFile(fresh_->path);
    }
    if (!written) return ReplaceOutcome::kCannotWrite;
    // Replaces a link under the target's name rather than the file it points to.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH |
                        (fresh_->elsewhere ? MOVEFILE_COPY_ALLOWED : 0);
    if (!MoveFileExW(fresh_->path.c_str(), fresh_->target.c_str(), flags)) {
        return ReplaceOutcome::kCannotReplace;
    }
    fresh_->committed = true;
    return ReplaceOutcome::kReplaced;
}

}  // namespace velmora
