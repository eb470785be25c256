#include <windows.h>

#include "platform/InterruptWait.h"

namespace velmora {
namespace {

HANDLE InterruptEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread of the system's; every control event (Ctrl-C, Ctrl-Break, the console
// closing) is an interrupt here.
BOOL WINAPI OnControlEvent(DWORD) {
    SetEvent(InterruptEvent());
    return TRUE;
}

}  // namespace

void HoldInterrupts() {
    InterruptEvent();
    // A process started in a process group of its own starts with Ctrl-C ignored.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

void WaitForInterrupt() {
    WaitForSingleObject(InterruptEvent(), INFINITE);
}

}  // namespace velmora
