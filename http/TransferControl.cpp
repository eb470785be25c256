#include "http/TransferControl.h"

#include <utility>

namespace velmora {

void TransferControl::Pause() {
    std::lock_guard lock(mutex_);
    ++pauseDepth_;
    NotifyLocked();
}

void TransferControl::Resume() {
    std::lock_guard lock(mutex_);
    if (pauseDepth_ > 0) --pauseDepth_;
    NotifyLocked();
}

void TransferControl::Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    NotifyLocked();
}

void TransferControl::Reset() {
    std::lock_guard lock(mutex_);
    stopped_ = false;
    pauseDepth_ = 0;
    NotifyLocked();
}

bool TransferControl::IsStopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

bool TransferControl::IsPaused() const {
    std::lock_guard lock(mutex_);
    return pauseDepth_ > 0;
}

bool TransferControl::WaitWhilePaused() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || pauseDepth_ == 0; });
    return !stopped_;
}

bool TransferControl::SleepFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, duration, [this] { return stopped_; });
    return !stopped_;
}

TransferControl::State TransferControl::Snapshot() const {
    std::lock_guard lock(mutex_);
    return SnapshotLocked();
}

TransferControl::State TransferControl::SnapshotLocked() const {
    return {pauseDepth_ > 0, stopped_, version_};
}

void TransferControl::NotifyLocked() {
    ++version_;
    changed_.notify_all();
    const State state = SnapshotLocked();
    for (auto& [id, onChange] : subscribers_) onChange(state);
}

TransferControl::Subscription::Subscription(TransferControl& control,
                                            std::function<void()> onChange)
    : Subscription(control, [onChange = std::move(onChange)](const State&) { onChange(); }) {}

TransferControl::Subscription::Subscription(TransferControl& control,
                                            std::function<void(const State&)> onChange)
    : control_(&control) {
    std::lock_guard lock(control.mutex_);
    id_ = control.nextSubscriptionId_++;
    control.subscribers_.emplace(id_, std::move(onChange));
}

TransferControl::Subscription::~Subscription() {
    Release();
}

TransferControl::Subscription::Subscription(Subscription&& other) noexcept
    : control_(std::exchange(other.control_, nullptr)), id_(other.id_) {}

TransferControl::Subscription& TransferControl::Subscription::operator=(
    Subscription&& other) noexcept {
    if (this != &other) {
        Release();
        control_ = std::exchange(other.control_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

void TransferControl::Subscription::Release() {
    if (control_ == nullptr) return;
    std::lock_guard lock(control_->mutex_);
    control_->subscribers_.erase(id_);
    control_ = nullptr;
}

}  // namespace velmora
