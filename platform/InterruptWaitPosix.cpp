#include <pthread.h>
#include <signal.h>

#include "platform/InterruptWait.h"

namespace velmora {
namespace {

sigset_t InterruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void HoldInterrupts() {
    // Blocked in every thread, the signals stay pending until sigwait takes them.
    const sigset_t signals = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WaitForInterrupt() {
    const sigset_t signals = InterruptSignals();
    int received = 0;
    sigwait(&signals, &received);
}

}  // namespace velmora
