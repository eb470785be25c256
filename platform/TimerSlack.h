#pragma once
// How closely timed waits keep their deadlines.

namespace velmora {

// Timed waits of the calling thread end within a microsecond or so of their deadline, instead
// of Linux's default 50 us later or Windows' default clock tick of 15.6 ms, which a server's
// every delayed answer would gain. Linux sets it per thread, Windows for the whole process.
void KeepTimedWaitsPrecise();

}  // namespace velmora
