#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileByteLocks.h"

namespace velmora {

namespace {

constexpr mode_t kPrivateFileMode = 0600;

struct flock ByteOf(std::uint64_t byte, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(byte);
    lock.l_len = 1;
    return lock;
}

}  // namespace

struct FileByteLocks::File {
    int fd = -1;
};

FileByteLocks::FileByteLocks(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    file_ = std::make_unique<File>(File{fd});
}

FileByteLocks::~FileByteLocks() {
    if (file_) close(file_->fd);
}

bool FileByteLocks::TryLock(std::uint64_t byte) {
    if (!file_) return false;
    struct flock lock = ByteOf(byte, F_WRLCK);
    int result = 0;
    do {
        result = fcntl(file_->fd, F_OFD_SETLK, &lock);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

void FileByteLocks::Unlock(std::uint64_t byte) {
    if (!file_) return;
    struct flock lock = ByteOf(byte, F_UNLCK);
    fcntl(file_->fd, F_OFD_SETLK, &lock);
}

bool FileByteLocks::LockedElsewhere(std::uint64_t byte) const {
    if (!file_) return false;
    struct flock lock = ByteOf(byte, F_WRLCK);
    if (fcntl(file_->fd, F_OFD_GETLK, &lock) != 0) return false;
    return lock.l_type != F_UNLCK;
}

}  // namespace velmora
