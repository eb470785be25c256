#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/PollSocketsWith.h"
#include "platform/Sockets.h"

namespace velmora {

namespace {

int Descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

}  // namespace

SocketHandle OpenSocket(int family, int type, int protocol) {
    const int socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return socket < 0 ? kNoSocket : static_cast<SocketHandle>(socket);
}

bool CloseSocket(SocketHandle socket) {
    return ::close(Descriptor(socket)) == 0;
}

bool HasInputOrHangUp(SocketHandle socket) {
    pollfd idle{Descriptor(socket), POLLIN, 0};
    return ::poll(&idle, 1, 0) > 0;
}

bool PollSockets(std::span<SocketWatch> sockets) {
    return PollSocketsWith<pollfd>(
        sockets, {POLLIN, POLLOUT, POLLHUP, POLLERR | POLLNVAL},
        [](SocketHandle socket, short events) {
            return pollfd{Descriptor(socket), events, 0};
        },
        [](std::vector<pollfd>& polled) { return ::poll(polled.data(), polled.size(), 0) >= 0; });
}

void ShutDownSocket(SocketHandle socket) {
    ::shutdown(Descriptor(socket), SHUT_RDWR);
}

bool IsConnectionRefused(long systemError) {
    return systemError == ECONNREFUSED;
}

}  // namespace velmora
