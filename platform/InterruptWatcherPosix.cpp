#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/InterruptWatcher.h"

namespace velmora {

namespace {

// Sent by the watcher's owner to end the watcher's thread.
constexpr int kQuitSignal = SIGUSR1;

sigset_t WatchedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, kQuitSignal);
    return signals;
}

}  // namespace

struct InterruptWatcher::Watch {
    sigset_t signals = WatchedSignals();
    std::thread thread;
};

InterruptWatcher::InterruptWatcher() : watch_(std::make_unique<Watch>()) {
    // Blocked here so that the signals wait for the watcher's sigwait, in every thread started
    // from now on as well.
    pthread_sigmask(SIG_BLOCK, &watch_->signals, nullptr);
}

InterruptWatcher::~InterruptWatcher() {
    Stop();
}

void InterruptWatcher::Stop() {
    if (!watch_->thread.joinable()) return;
    pthread_kill(watch_->thread.native_handle(), kQuitSignal);
    watch_->thread.join();
}

void InterruptWatcher::Start(std::function<void()> onInterrupt) {
    if (watch_->thread.joinable()) return;
    watch_->thread = std::thread([signals = watch_->signals, onInterrupt = std::move(onInterrupt)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0 || signal == kQuitSignal) return;
            onInterrupt();
        }
    });
}

}  // namespace velmora
