#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/InterruptWatcher.h"

namespace velmora {

namespace {

// What the console's handler hands the watcher. Never freed: the system runs the handler on a
// thread of its own, which may come while the program ends.
struct Interrupts {
    std::mutex mutex;
    std::condition_variable arrived;
    int pending = 0;
    bool quit = false;
};

Interrupts& Shared() {
    static Interrupts* const interrupts = new Interrupts;
    return *interrupts;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:     // the console window is closed
        case CTRL_SHUTDOWN_EVENT:  // the system shuts down
            break;
        default:
            return FALSE;
    }
    Interrupts& interrupts = Shared();
    {
        std::lock_guard lock(interrupts.mutex);
        ++interrupts.pending;
    }
    interrupts.arrived.notify_one();
    return TRUE;  // handled: the system's own handler, which ends the process, does not run
}

}  // namespace

struct InterruptWatcher::Watch {
    std::thread thread;
};

InterruptWatcher::InterruptWatcher() : watch_(std::make_unique<Watch>()) {
    Shared();  // made before the handler can run
    // A process started in a process group of its own starts with Ctrl-C ignored.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher() {
    Stop();
}

void InterruptWatcher::Stop() {
    if (!watch_->thread.joinable()) return;
    Interrupts& interrupts = Shared();
    {
        std::lock_guard lock(interrupts.mutex);
        interrupts.quit = true;
    }
    interrupts.arrived.notify_all();
    watch_->thread.join();
}

void InterruptWatcher::Start(std::function<void()> onInterrupt) {
    if (watch_->thread.joinable()) return;
    {
        std::lock_guard lock(Shared().mutex);
        Shared().quit = false;
    }
    watch_->thread = std::thread([onInterrupt = std::move(onInterrupt)] {
        Interrupts& interrupts = Shared();
        std::unique_lock lock(interrupts.mutex);
        for (;;) {
            interrupts.arrived.wait(lock,
                                    [&] { return interrupts.pending > 0 || interrupts.quit; });
            if (interrupts.quit) return;
            --interrupts.pending;
            lock.unlock();
            onInterrupt();
            lock.lock();
        }
    });
}

}  // namespace velmora
