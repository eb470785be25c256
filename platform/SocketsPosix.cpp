#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

int LocalPortOf(SocketHandle socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return 0;
}

void ShutDownSocket(SocketHandle socket) {
    ::shutdown(Descriptor(socket), SHUT_RDWR);
}

bool IsConnectionRefused(long systemError) {
    return systemError == ECONNREFUSED;
}

}  // namespace velmora
