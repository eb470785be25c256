#pragma once
// A lock shared by name between processes, for work that one thread of one process at a time
// may do. It stands on flock(2) over a file of that name in the user's runtime directory, so the
// kernel releases it when its holder dies and the next waiter still obtains it.

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>

namespace velmora {

class NamedMutex {
public:
    // Opens the lock of that name (UTF-8, no "/"), creating its file when it does not exist yet.
    // When the file cannot be opened the lock still works between the threads of this object.
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Waits without a time limit until this thread holds the lock, or until `stop` is requested
    // (then false, not holding it).
    [[nodiscard]] bool Lock(std::stop_token stop);
    void Unlock();

    // The file behind the lock; empty when it could not be opened.
    const std::string& path() const { return path_; }

private:
    bool TryLockFile();
    // Wakes every waiter, to look at its stop request.
    void WakeAll();

    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
    // Wakes one waiter when the lock is given back.
    std::condition_variable released_;
    bool held_ = false;
};

// Holds a NamedMutex for a scope once Lock succeeded.
class NamedMutexGuard {
public:
    NamedMutexGuard(NamedMutex& mutex, std::stop_token stop)
        : mutex_(mutex), held_(mutex.Lock(stop)) {}
    ~NamedMutexGuard() {
        if (held_) mutex_.Unlock();
    }
    NamedMutexGuard(const NamedMutexGuard&) = delete;
    NamedMutexGuard& operator=(const NamedMutexGuard&) = delete;

    [[nodiscard]] bool held() const { return held_; }

private:
    NamedMutex& mutex_;
    bool held_;
};

// The directory for per-user runtime files: $XDG_RUNTIME_DIR, or a private directory of this
// user under /tmp. Empty when neither is usable.
std::string UserRuntimeDirectory();

}  // namespace velmora
