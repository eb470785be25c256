#include "journal/RunningSearchLocks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace velmora {

namespace {

constexpr mode_t kPrivateFileMode = 0600;

struct flock ByteOf(std::int64_t id, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(id);
    lock.l_len = 1;
    return lock;
}

}  // namespace

RunningSearchLocks::RunningSearchLocks(const std::string& path) {
    // Close-on-exec: a program the window starts must not keep a search running.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFileMode);
    if (fd_ < 0) error_ = errno;
}

RunningSearchLocks::~RunningSearchLocks() {
    if (fd_ >= 0) close(fd_);
}

bool RunningSearchLocks::Take(std::int64_t id) {
    if (fd_ < 0 || id < 0) return false;
    struct flock lock = ByteOf(id, F_WRLCK);
    int result = 0;
    do {
        result = fcntl(fd_, F_OFD_SETLK, &lock);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return false;
    held_.insert(id);
    return true;
}

void RunningSearchLocks::Release(std::int64_t id) {
    if (held_.erase(id) == 0) return;
    struct flock lock = ByteOf(id, F_UNLCK);
    fcntl(fd_, F_OFD_SETLK, &lock);
}

bool RunningSearchLocks::HeldElsewhere(std::int64_t id) const {
    if (fd_ < 0 || id < 0) return false;
    struct flock lock = ByteOf(id, F_WRLCK);
    if (fcntl(fd_, F_OFD_GETLK, &lock) != 0) return false;
    return lock.l_type != F_UNLCK;
}

}  // namespace velmora
