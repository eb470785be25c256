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

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// Flushes a finished file to the disk, so that a write error the kernel reports late still
// counts.
bool SyncFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
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
            return;
        }
        if (errno != EEXIST) return;
    }
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
    fresh_->written = fresh_->written && WriteAll(fresh_->fd, bytes);
    return fresh_->written;
}

std::string FileReplacement::NameForLibrary() {
    if (!fresh_) return {};
    if (fresh_->fd >= 0) {
        fresh_->written = ::close(fresh_->fd) == 0 && fresh_->written;
        fresh_->fd = -1;
    }
    return fresh_->path.native();
}

ReplaceOutcome FileReplacement::Commit() {
    if (!fresh_) return ReplaceOutcome::kCannotCreate;
    bool written = fresh_->written;
    if (fresh_->fd >= 0) {
        written = ::fsync(fresh_->fd) == 0 && written;
        written = ::close(fresh_->fd) == 0 && written;
        fresh_->fd = -1;
    } else {
        written = written && SyncFile(fresh_->path);
    }
    if (!written) return ReplaceOutcome::kCannotWrite;
    if (std::rename(fresh_->path.c_str(), fresh_->target.c_str()) != 0) {
        return ReplaceOutcome::kCannotReplace;
    }
    fresh_->committed = true;
    return ReplaceOutcome::kReplaced;
}

}  // namespace velmora
