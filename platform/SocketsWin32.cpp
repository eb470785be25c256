#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before it.
#include <windows.h>

#include <vector>

#include "platform/PollSocketsWith.h"
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

bool PollSockets(std::span<SocketWatch> sockets) {
    // WSAPoll takes the normal-data flags only: the others fail the call.
    return PollSocketsWith<WSAPOLLFD>(
        sockets, {POLLRDNORM, POLLWRNORM, POLLHUP, POLLERR | POLLNVAL},
        [](SocketHandle socket, short events) {
            return WSAPOLLFD{Native(socket), events, 0};
        },
        [](std::vector<WSAPOLLFD>& polled) {
            return WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), 0) != SOCKET_ERROR;
        });
}

void ShutDownSocket(SocketHandle socket) {
    shutdown(Native(socket), SD_BOTH);
}

bool IsConnectionRefused(long systemError) {
    return systemError == WSAECONNREFUSED;
}

}  // namespace velmora
