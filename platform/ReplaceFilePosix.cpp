#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/ReplaceFile.h"

namespace velmora {

namespace {

// Random names tried before giving up; a collision needs another writer in the same folder.
constexpr int kTemporaryNameAttempts = 16;

struct Mode {
    mode_t bits;
    bool exact;  // set whatever the umask took away
};

Mode ModeOf(FileAccess access) {
    switch (access) {
        case FileAccess::kOwnerOnly:
            return {0600, true};
        case FileAccess::kOwnerWritesAll:
            return {0755, true};
        case FileAccess::kUsual:
            break;
    }
    return {0666, false};
}

// 0 when done, else the error.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return ENOSPC;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

WriteFailure FailureOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return WriteFailure::kNoFolder;
        case ENAMETOOLONG:
            return WriteFailure::kNameTooLong;
        default:
            return WriteFailureOfStorageError(error);
    }
}

// A file its user has taken the write permission off, or one this process may not write.
// rename(2) would replace it all the same (only the folder's permissions count), so it is
// refused here, as Windows refuses a read-only file.
bool IsReadOnlyFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// Flushes a finished file to the disk, so that a write error the kernel reports late still
// counts.
// 0 when done, else the error.
int SyncFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

struct FileReplacement::Fresh {
    std::filesystem::path target;
    // Short and fixed in shape, so that a target name at the length limit works.
    std::filesystem::path path;
    int fd = -1;  // -1 once a library writes it
    bool written = true;
    bool committed = false;
};

FileReplacement::FileReplacement(const std::filesystem::path& target, FileAccess access) {
    if (IsReadOnlyFile(target)) {
        failure_ = WriteFailure::kReadOnlyFile;
        return;
    }
    const Mode mode = ModeOf(access);
    std::random_device seed;
    std::mt19937 generator(seed());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".velmora-%08x~", static_cast<unsigned>(generator()));
        std::filesystem::path path = target.parent_path() / name;
        // O_EXCL: an existing name, a link included, is never opened.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode.bits);
        if (fd >= 0) {
            fresh_ = std::make_unique<Fresh>(Fresh{target, std::move(path), fd});
            fresh_->written = !mode.exact || ::fchmod(fd, mode.bits) == 0;
            if (!fresh_->written) failure_ = FailureOf(errno);
            return;
        }
        if (errno != EEXIST) break;
    }
    failure_ = FailureOf(errno);
}

FileReplacement::~FileReplacement() {
    if (!fresh_) return;
    if (fresh_->fd >= 0) ::close(fresh_->fd);
    if (!fresh_->committed) ::unlink(fresh_->path.c_str());
}

bool FileReplacement::created() const {
    return fresh_ != nullptr;
}

bool FileReplacement::Write(std::string_view bytes) {
    if (!fresh_ || fresh_->fd < 0) return false;
    if (!fresh_->written) return false;
    if (const int error = WriteAll(fresh_->fd, bytes); error != 0) {
        fresh_->written = false;
        failure_ = FailureOf(error);
    }
    return fresh_->written;
}

std::string FileReplacement::NameForLibrary() {
    if (!fresh_) return {};
    if (fresh_->fd >= 0) {
        if (::close(fresh_->fd) != 0 && fresh_->written) {
            fresh_->written = false;
            failure_ = FailureOf(errno);
        }
        fresh_->fd = -1;
    }
    return fresh_->path.native();
}

ReplaceOutcome FileReplacement::Commit() {
    if (!fresh_) return ReplaceOutcome::kCannotCreate;
    if (!fresh_->written) return ReplaceOutcome::kCannotWrite;
    int error = 0;
    if (fresh_->fd >= 0) {
        error = ::fsync(fresh_->fd) == 0 ? 0 : errno;
        if (::close(fresh_->fd) != 0 && error == 0) error = errno;
        fresh_->fd = -1;
    } else {
        error = SyncFile(fresh_->path);
    }
    if (error != 0) {
        failure_ = FailureOf(error);
        return ReplaceOutcome::kCannotWrite;
    }
    if (std::rename(fresh_->path.c_str(), fresh_->target.c_str()) != 0) {
        failure_ = FailureOf(errno);
        return ReplaceOutcome::kCannotReplace;
    }
    fresh_->committed = true;
    return ReplaceOutcome::kReplaced;
}

}  // namespace velmora
