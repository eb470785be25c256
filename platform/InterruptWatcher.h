#pragma once
// The interrupts of a console program (Ctrl-C, a request to terminate) handled on a thread of
// its own rather than inside a signal handler, where almost nothing may be done. One watcher
// per process.

#include <functional>
#include <memory>

namespace velmora {

class InterruptWatcher {
public:
    // From now on the interrupts are held back for the watcher: made before any other thread
    // starts, so that no thread the program starts later takes them (SIGINT and SIGTERM
    // blocked, every thread inheriting the mask; SetConsoleCtrlHandler on Windows).
    InterruptWatcher();
    // Stop()s.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Runs `onInterrupt` on the watcher's thread once for each interrupt, those held back since
    // the watcher was made first, until the watcher goes. Once only.
    void Start(std::function<void()> onInterrupt);
    // Stops watching, once a call of onInterrupt under way has returned. The interrupts stay
    // held back, so that one that comes during the program's last steps cannot cut them short.
    void Stop();

private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

}  // namespace velmora
