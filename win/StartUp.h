#pragma once
// The program's entry sequence and its end. Order of the end: the window's loop returns, the
// window goes (it stops a running batch as it closes), then every search thread is ended and
// joined before the session, the shared HttpClient and the port they write through are freed.

namespace velmora {

// The whole run: start-up, the window's loop, the clean-up. Returns the process's exit code.
int StartUp();

}  // namespace velmora
