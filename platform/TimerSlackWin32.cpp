#include <windows.h>

#include "platform/TimerSlack.h"
// After windows.h, which it needs.
#include <timeapi.h>

namespace velmora {

void KeepTimedWaitsPrecise() {
    // The finest clock tick there is; asked for once, it holds until the process ends.
    [[maybe_unused]] static const bool asked = timeBeginPeriod(1) == TIMERR_NOERROR;
}

}  // namespace velmora
