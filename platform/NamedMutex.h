#pragma once
// A lock shared by name between processes, for work that one thread of one process at a time
// may do. It stands on flock(2) over a file of that name in the user's runtime directory, and on
// a named kernel mutex of the user's session on Windows, so the system releases it when its
// holder dies and the next waiter still obtains it (an abandoned mutex counts as obtained).

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/UserDirectories.h"  // UserRuntimeDirectory, where the lock files live

namespace velmora {

class NamedMutex {
public:
    // Opens the lock of that name (UTF-8, no "/" or "\\"), creating it when it does not exist
    // yet. When it cannot be opened the lock still works between the threads of this object.
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Waits without a time limit until this thread holds the lock, or until `stop` is requested
    // (then false, not holding it).
    [[nodiscard]] bool Lock(std::stop_token stop);
    // On the thread that holds it (a kernel mutex belongs to the thread that took it).
    void Unlock();

    // Where the lock lives: its file, or the mutex's name in the kernel's namespace on Windows;
    // empty when it could not be opened.
    const std::string& path() const { return path_; }

private:
    // The lock the system keeps between processes.
    struct SystemLock;
    void OpenSystemLock(std::string_view name);
    // True when this object now holds the system's lock too, or when it has none (or a broken
    // one, which must not block).
    bool TryLockSystem();
    void UnlockSystem();
    // Wakes every waiter, to look at its stop request.
    void WakeAll();

    std::string path_;
    std::unique_ptr<SystemLock> system_;
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

}  // namespace velmora
