#include "platform/NamedMutex.h"

#include <chrono>

namespace velmora {

namespace {

// How often a waiter retries while another process holds the lock: the system's lock cannot be
// waited for together with a stop request, and a holder in another process is rare and holds
// it briefly.
constexpr auto kOtherProcessRetry = std::chrono::milliseconds(5);

}  // namespace

bool NamedMutex::Lock(std::stop_token stop) {
    // Registered before the lock is taken, since it runs at once when the stop came already;
    // destroyed after it is given back, since it takes the lock itself.
    const std::stop_callback wake(stop, [this] { WakeAll(); });
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return !held_ || stop.stop_requested(); });
    if (!stop.stop_requested()) {
        held_ = true;
        // Another process may hold it; this object's other threads wait on held_ meanwhile.
        while (!TryLockSystem()) {
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
        UnlockSystem();
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
