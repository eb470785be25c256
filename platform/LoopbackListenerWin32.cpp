#include "platform/LoopbackListener.h"

// winsock2.h brings windows.h in after itself, as it must come.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

namespace velmora {
namespace {

SOCKET Socket(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

std::intptr_t Handle(SOCKET socket) {
    return socket == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(socket);
}

// Winsock serves a process only after WSAStartup; it is never cleaned up, since sockets may
// live until the process ends.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket that no child process inherits.
SOCKET NewSocket() {
    if (!StartWinsock()) return INVALID_SOCKET;
    return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

void SetNonBlocking(SOCKET socket) {
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

std::string ErrorText(int code) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8 = "error " + std::to_string(code);
    if (text != nullptr) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (bytes > 1) {
            utf8.assign(static_cast<std::size_t>(bytes - 1), '\0');
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
            while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) utf8.pop_back();
        }
        LocalFree(text);
    }
    return utf8;
}

// WSAPoll takes sockets only, so a waker is a connected pair of them.
SocketStatus Poll(std::intptr_t handle, short events, std::intptr_t waker,
                  std::optional<std::chrono::milliseconds> timeout = {}) {
    if (handle == -1) return SocketStatus::kFailed;
    WSAPOLLFD fds[2] = {{Socket(handle), events, 0}, {Socket(waker), POLLRDNORM, 0}};
    const ULONG count = waker != -1 ? 2 : 1;
    const int ready = WSAPoll(fds, count, timeout ? static_cast<INT>(timeout->count()) : -1);
    if (ready < 0) return SocketStatus::kFailed;
    if (ready == 0) return SocketStatus::kTimedOut;
    if (count == 2 && fds[1].revents != 0) return SocketStatus::kWoken;
    return SocketStatus::kOk;
}

}  // namespace

Waker::Waker() {
    LoopbackListener listener;
    if (!listener.Listen(0, 1)) return;
    LoopbackConnection poked = LoopbackConnection::Connect(listener.port());
    LoopbackConnection watched = listener.Accept();
    if (!poked.valid() || !watched.valid()) return;
    watched_ = std::exchange(watched.socket_, -1);
    poked_ = std::exchange(poked.socket_, -1);
}

Waker::~Waker() {
    if (watched_ != -1) closesocket(Socket(watched_));
    if (poked_ != -1) closesocket(Socket(poked_));
}

bool Waker::valid() const {
    return watched_ != -1;
}

void Waker::Wake() {
    // Never read, so every poll on the other end wakes from now on.
    if (poked_ != -1) send(Socket(poked_), "x", 1, 0);
}

LoopbackConnection LoopbackConnection::Connect(std::uint16_t port) {
    const SOCKET socket = NewSocket();
    if (socket == INVALID_SOCKET) return {};
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        closesocket(socket);
        return {};
    }
    SetNonBlocking(socket);
    return LoopbackConnection(Handle(socket));
}

LoopbackConnection LoopbackConnection::StartConnecting(std::uint16_t port) {
    const SOCKET socket = NewSocket();
    if (socket == INVALID_SOCKET) return {};
    SetNonBlocking(socket);
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(socket);
        return {};
    }
    return LoopbackConnection(Handle(socket));
}

LoopbackConnection::Received LoopbackConnection::Receive(
    char* buffer, std::size_t size, const Waker* waker,
    std::optional<std::chrono::milliseconds> timeout) {
    const int most = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    while (true) {
        const SocketStatus ready = Poll(socket_, POLLRDNORM, Waker::Watched(waker), timeout);
        if (ready != SocketStatus::kOk) return {ready};
        const int got = recv(Socket(socket_), buffer, most, 0);
        if (got > 0) return {SocketStatus::kOk, static_cast<std::size_t>(got)};
        if (got == 0) return {SocketStatus::kEnd};
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
        return {error == WSAECONNRESET || error == WSAECONNABORTED ? SocketStatus::kReset
                                                                   : SocketStatus::kFailed};
    }
}

SocketStatus LoopbackConnection::SendAll(std::string_view bytes, const Waker* waker) {
    while (!bytes.empty()) {
        const SocketStatus ready = Poll(socket_, POLLWRNORM, Waker::Watched(waker));
        if (ready != SocketStatus::kOk) return ready;
        const int most = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        const int sent = send(Socket(socket_), bytes.data(), most, 0);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
        return error == WSAECONNRESET || error == WSAECONNABORTED ? SocketStatus::kReset
                                                                  : SocketStatus::kFailed;
    }
    return SocketStatus::kOk;
}

void LoopbackConnection::ShutdownSend() {
    if (socket_ != -1) shutdown(Socket(socket_), SD_SEND);
}

void LoopbackConnection::Shutdown() {
    if (socket_ != -1) shutdown(Socket(socket_), SD_BOTH);
}

void LoopbackConnection::SetNoDelay() {
    const BOOL on = TRUE;
    if (socket_ != -1) {
        setsockopt(Socket(socket_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
    }
}

void LoopbackConnection::ResetOnClose() {
    const linger hard{1, 0};
    if (socket_ != -1) {
        setsockopt(Socket(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                   sizeof hard);
    }
}

void LoopbackConnection::Close() {
    if (socket_ != -1) closesocket(Socket(std::exchange(socket_, -1)));
}

bool LoopbackListener::Listen(std::uint16_t port, int backlog) {
    Close();
    auto fail = [&](const std::string& what) {
        error_ = what + ": " + ErrorText(WSAGetLastError());
        Close();
        return false;
    };
    const SOCKET socket = NewSocket();
    if (socket == INVALID_SOCKET) return fail("cannot open a socket");
    socket_ = Handle(socket);
    // Windows' SO_REUSEADDR would let another program bind the same port; exclusive use is
    // what POSIX's gives a listener.
    const BOOL on = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    sockaddr_in address = LoopbackAddress(port);
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("cannot bind 127.0.0.1:" + std::to_string(port));
    }
    if (listen(socket, backlog == kMaxBacklog ? SOMAXCONN : backlog) != 0) {
        return fail("cannot listen");
    }
    SetNonBlocking(socket);
    int length = sizeof address;
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

SocketStatus LoopbackListener::WaitForConnection(const Waker* waker,
                                                 std::optional<std::chrono::milliseconds> timeout) {
    return Poll(socket_, POLLRDNORM, Waker::Watched(waker), timeout);
}

LoopbackConnection LoopbackListener::Accept() {
    if (socket_ == -1) return {};
    const SOCKET socket = accept(Socket(socket_), nullptr, nullptr);
    if (socket == INVALID_SOCKET) return {};
    // Accepted sockets take the listener's attributes; inheritance is set apart, to be sure.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(socket);
    return LoopbackConnection(Handle(socket));
}

void LoopbackListener::Close() {
    if (socket_ != -1) closesocket(Socket(std::exchange(socket_, -1)));
}

}  // namespace velmora
