#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before it.
#include <windows.h>

#include "platform/Sockets.h"

namespace velmora {

namespace {

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

SocketHandle OpenSocket(int family, int type, int protocol) {
    // Overlapped, as socket() makes them, for libcurl's own calls.
    SOCKET socket = WSASocketW(family, type, protocol, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 know no such flag.
        socket = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (socket != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
        }
    }
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

bool CloseSocket(SocketHandle socket) {
    return closesocket(Native(socket)) == 0;
}

bool HasInputOrHangUp(SocketHandle socket) {
    WSAPOLLFD idle{Native(socket), POLLRDNORM, 0};
    return WSAPoll(&idle, 1, 0) > 0;
}

int LocalPortOf(SocketHandle socket) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
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
    shutdown(Native(socket), SD_BOTH);
}

bool IsConnectionRefused(long systemError) {
    return systemError == WSAECONNREFUSED;
}

}  // namespace velmora
