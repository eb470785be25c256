#pragma once
// A program that runs until the user interrupts it (Ctrl-C) or the system asks it to end
// (SIGTERM; closing its console), and then ends in order.

namespace velmora {

// From now on interrupts wait for WaitForInterrupt instead of ending the process. Called before
// any thread starts, since on POSIX threads inherit the signals held back by their creator.
void HoldInterrupts();

// Blocks until an interrupt comes; HoldInterrupts first.
void WaitForInterrupt();

}  // namespace velmora
