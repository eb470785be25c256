#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/NamedMutex.h"
#include "platform/Utf8Path.h"

namespace velmora {

struct NamedMutex::SystemLock {
    int fd = -1;
};

NamedMutex::NamedMutex(std::string_view name) {
    OpenSystemLock(name);
}

NamedMutex::~NamedMutex() {
    if (system_) close(system_->fd);
}

void NamedMutex::OpenSystemLock(std::string_view name) {
    const std::string directory = UserRuntimeDirectory();
    if (directory.empty() || name.empty() || name.find('/') != std::string_view::npos) return;
    std::string path = directory + "/" + std::string(name) + ".lock";
    const int fd =
        open(PathFromUtf8(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    system_ = std::make_unique<SystemLock>(SystemLock{fd});
    path_ = std::move(path);
}

bool NamedMutex::TryLockSystem() {
    if (!system_) return true;
    while (flock(system_->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return errno != EWOULDBLOCK;  // a broken lock file must not block
    }
    return true;
}

void NamedMutex::UnlockSystem() {
    if (system_) flock(system_->fd, LOCK_UN);
}

}  // namespace velmora
