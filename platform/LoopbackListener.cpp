#include "platform/LoopbackListener.h"

#include <utility>

// What is the same on every system; the rest is in LoopbackListenerPosix.cpp and
// LoopbackListenerWin32.cpp.

namespace velmora {

LoopbackConnection::~LoopbackConnection() {
    Close();
}

LoopbackConnection::LoopbackConnection(LoopbackConnection&& other) noexcept
    : socket_(std::exchange(other.socket_, -1)) {}

LoopbackConnection& LoopbackConnection::operator=(LoopbackConnection&& other) noexcept {
    if (this != &other) {
        Close();
        socket_ = std::exchange(other.socket_, -1);
    }
    return *this;
}

LoopbackListener::~LoopbackListener() {
    Close();
}

}  // namespace velmora
