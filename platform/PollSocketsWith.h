#pragma once
// For the systems' PollSockets: one poll of the sockets through the system's own call, given its
// entry type and flags.

#include <cstddef>
#include <span>
#include <vector>

#include "platform/Sockets.h"

namespace velmora {

// The system's poll flags that stand for the watch bits.
struct PollFlags {
    short readable;
    short writable;
    short hangUp;
    short failed;
};

// `make(socket, events)` makes the system's entry; `poll(entries)` polls them without waiting,
// false when the call failed.
template <typename Entry, typename Make, typename Poll>
bool PollSocketsWith(std::span<SocketWatch> sockets, const PollFlags& flags, Make make, Poll poll) {
    std::vector<Entry> polled;
    polled.reserve(sockets.size());
    for (const SocketWatch& watch : sockets) {
        const int events = ((watch.watchedFor & kSocketReadable) != 0 ? flags.readable : 0) |
                           ((watch.watchedFor & kSocketWritable) != 0 ? flags.writable : 0);
        polled.push_back(make(watch.socket, static_cast<short>(events)));
    }
    if (!poll(polled)) return false;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const short ready = polled[i].revents;
        sockets[i].readyFor =
            ((ready & (flags.readable | flags.hangUp)) != 0 ? kSocketReadable : 0u) |
            ((ready & flags.writable) != 0 ? kSocketWritable : 0u) |
            ((ready & flags.failed) != 0 ? kSocketFailed : 0u);
    }
    return true;
}

}  // namespace velmora
