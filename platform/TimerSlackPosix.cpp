#include <sys/prctl.h>

#include "platform/TimerSlack.h"

namespace velmora {
namespace {

// The least slack the kernel takes; 0 would mean "back to the default".
constexpr unsigned long kTimerSlackNs = 1;

}  // namespace

void KeepTimedWaitsPrecise() {
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
}

}  // namespace velmora
