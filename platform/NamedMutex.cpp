#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace velmora {

namespace {

// How often a waiter retries while another process holds the lock: flock cannot wait for a
// stop request as well, and a holder in another process is rare and holds it briefly.
constexpr auto kOtherProcessRetry = std::chrono::milliseconds(5);

bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string UserRuntimeDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        if (IsPrivateDirectory(runtime)) return runtime;
    }
    // /tmp is shared: use a directory of our own and only when nobody else can have made it.
    std::string fallback = "/tmp/velmora-" + std::to_string(geteuid());
    mkdir(fallback.c_str(), 0700);
    return IsPrivateDirectory(fallback) ? fallback : std::string();
}

NamedMutex::NamedMutex(std::string_view name) {
    const std::string directory = UserRuntimeDirectory();
    if (directory.empty() || name.empty() || name.find('/') != std::string_view::npos) return;
    std::string path = directory + "/" + std::string(name) + ".lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) path_ = std::move(path);
}

NamedMutex::~NamedMutex() {
    if (fd_ >= 0) close(fd_);
}

bool NamedMutex::TryLockFile() {
    if (fd_ < 0) return true;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return errno != EWOULDBLOCK;  // a broken lock file must not block
    }
    return true;
}

bool NamedMutex::Lock(std::stop_token stop) {
    // Registered before the lock is taken, since it runs at once when the stop came already;
    // destroyed after it is given back, since it takes the lock itself.
    const std::stop_callback wake(stop, [this] { WakeAll(); });
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return !held_ || stop.stop_requested(); });
    if (!stop.stop_requested()) {
        held_ = true;
        // Another process may hold the file; this object's other threads wait on held_ meanwhile.
        while (!TryLockFile()) {
            released_.wait_for(lock, kOtherProcessRetry, [&] { return stop.stop_requested(); });
            if (stop.stop_requested()) {
                held_ = false;
                break;
            }
        }
        if (held_) return true;
    }
    // The wake-up this waiter may have taken goes on to the next one.
    lock.unlock();
    released_.notify_one();
    return false;
}

void NamedMutex::Unlock() {
    {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) flock(fd_, LOCK_UN);
        held_ = false;
    }
    // Outside the lock: the waiter woken runs at once on a busy processor and must not find the
    // lock still taken.
    released_.notify_one();
}

void NamedMutex::WakeAll() {
    { std::lock_guard lock(mutex_); }
    released_.notify_all();
}

}  // namespace velmora
