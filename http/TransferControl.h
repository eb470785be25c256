#pragma once
// Pause, resume and stop for work that runs on other threads: HTTP transfers in flight, and any
// loop or wait that checks it between steps. One control can serve a whole session of threads.
//
// Pauses nest: every Pause needs its Resume. A stop outlasts pauses and resumes, wakes every
// waiter and stays until Reset. Nothing here suspends a thread from outside: the working thread
// pauses itself in WaitWhilePaused (blocked on a condition variable, no polling).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace velmora {

class TransferControl {
public:
    TransferControl() = default;
    TransferControl(const TransferControl&) = delete;
    TransferControl& operator=(const TransferControl&) = delete;

    void Pause();
    // Undoes one Pause; a Resume without a matching Pause is ignored.
    void Resume();
    void Stop();
    // Back to running: not stopped, no pause pending. For the start of a new session.
    void Reset();

    [[nodiscard]] bool IsStopped() const;
    [[nodiscard]] bool IsPaused() const;

    // The control as it stands; `version` grows with every change, so that whoever mirrors the
    // state can tell an older reading from a newer one.
    struct State {
        bool paused = false;
        bool stopped = false;
        std::uint64_t version = 0;
    };
    [[nodiscard]] State Snapshot() const;

    // Blocks while paused. Returns false when stopped (at once if already stopped), true to go on.
    [[nodiscard]] bool WaitWhilePaused();
    // Sleeps for `duration`, or less when stopped; returns false when stopped.
    [[nodiscard]] bool SleepFor(std::chrono::milliseconds duration);

    // While a Subscription lives, its function runs after every Pause, Resume, Stop and Reset,
    // on the thread that made the change and under the control's lock: it must be quick and
    // must not call back into this control (waking a poll or a condition variable is the use).
    class Subscription {
    public:
        Subscription() = default;
        Subscription(TransferControl& control, std::function<void()> onChange);
        // The function gets the state the change left, since it may not ask the control.
        Subscription(TransferControl& control, std::function<void(const State&)> onChange);
        ~Subscription();
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        void Release();
        TransferControl* control_ = nullptr;
        std::uint64_t id_ = 0;
    };

private:
    void NotifyLocked();
    State SnapshotLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int pauseDepth_ = 0;
    bool stopped_ = false;
    std::uint64_t version_ = 0;
    std::uint64_t nextSubscriptionId_ = 1;
    std::map<std::uint64_t, std::function<void(const State&)>> subscribers_;
};

}  // namespace velmora
