#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/LoopbackListener.h"

namespace velmora {
namespace {

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Waits until `handle` is ready for `events`, the waker's end (-1: none) is readable, or the
// time-out passes.
SocketStatus Poll(std::intptr_t handle, short events, std::intptr_t waker,
                  std::optional<std::chrono::milliseconds> timeout = {}) {
    if (handle == -1) return SocketStatus::kFailed;
    pollfd fds[2] = {{Fd(handle), events, 0}, {Fd(waker), POLLIN, 0}};
    const int count = waker != -1 ? 2 : 1;
    const int wait = timeout ? static_cast<int>(timeout->count()) : -1;
    while (true) {
        const int ready = poll(fds, static_cast<nfds_t>(count), wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return SocketStatus::kFailed;
        if (ready == 0) return SocketStatus::kTimedOut;
        if (count == 2 && fds[1].revents != 0) return SocketStatus::kWoken;
        return SocketStatus::kOk;
    }
}

}  // namespace

Waker::Waker() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    watched_ = ends[0];
    poked_ = ends[1];
}

Waker::~Waker() {
    if (watched_ != -1) close(Fd(watched_));
    if (poked_ != -1) close(Fd(poked_));
}

bool Waker::valid() const {
    return watched_ != -1;
}

void Waker::Wake() {
    // The pipe is never drained, so every poll on it wakes from now on.
    if (poked_ != -1) {
        [[maybe_unused]] const ssize_t written = write(Fd(poked_), "x", 1);
    }
}

LoopbackConnection LoopbackConnection::Connect(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return {};
    }
    SetNonBlocking(fd);
    return LoopbackConnection(fd);
}

LoopbackConnection LoopbackConnection::StartConnecting(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return {};
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close(fd);
        return {};
    }
    return LoopbackConnection(fd);
}

LoopbackConnection::Received LoopbackConnection::Receive(
    char* buffer, std::size_t size, const Waker* waker,
    std::optional<std::chrono::milliseconds> timeout) {
    while (true) {
        const SocketStatus ready = Poll(socket_, POLLIN, Waker::Watched(waker), timeout);
        if (ready != SocketStatus::kOk) return {ready};
        const ssize_t got = recv(Fd(socket_), buffer, size, 0);
        if (got > 0) return {SocketStatus::kOk, static_cast<std::size_t>(got)};
        if (got == 0) return {SocketStatus::kEnd};
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return {errno == ECONNRESET ? SocketStatus::kReset : SocketStatus::kFailed};
    }
}

SocketStatus LoopbackConnection::SendAll(std::string_view bytes, const Waker* waker) {
    while (!bytes.empty()) {
        const SocketStatus ready = Poll(socket_, POLLOUT, Waker::Watched(waker));
        if (ready != SocketStatus::kOk) return ready;
        const ssize_t sent = send(Fd(socket_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno == ECONNRESET || errno == EPIPE ? SocketStatus::kReset
                                                         : SocketStatus::kFailed;
        }
    }
    return SocketStatus::kOk;
}

void LoopbackConnection::ShutdownSend() {
    if (socket_ != -1) shutdown(Fd(socket_), SHUT_WR);
}

void LoopbackConnection::Shutdown() {
    if (socket_ != -1) shutdown(Fd(socket_), SHUT_RDWR);
}

void LoopbackConnection::SetNoDelay() {
    const int on = 1;
    if (socket_ != -1) setsockopt(Fd(socket_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void LoopbackConnection::ResetOnClose() {
    const linger hard{1, 0};
    if (socket_ != -1) setsockopt(Fd(socket_), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void LoopbackConnection::Close() {
    if (socket_ != -1) close(Fd(std::exchange(socket_, -1)));
}

bool LoopbackListener::Listen(std::uint16_t port, int backlog) {
    Close();
    auto fail = [&](const std::string& what) {
        error_ = what + ": " + std::strerror(errno);
        Close();
        return false;
    };
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return fail("cannot open a socket");
    socket_ = fd;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = LoopbackAddress(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("cannot bind 127.0.0.1:" + std::to_string(port));
    }
    if (listen(fd, backlog == kMaxBacklog ? SOMAXCONN : backlog) != 0) {
        return fail("cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

SocketStatus LoopbackListener::WaitForConnection(const Waker* waker,
                                                 std::optional<std::chrono::milliseconds> timeout) {
    return Poll(socket_, POLLIN, Waker::Watched(waker), timeout);
}

LoopbackConnection LoopbackListener::Accept() {
    if (socket_ == -1) return {};
    const int fd = accept4(Fd(socket_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return fd < 0 ? LoopbackConnection() : LoopbackConnection(fd);
}

void LoopbackListener::Close() {
    if (socket_ != -1) close(Fd(std::exchange(socket_, -1)));
}

}  // namespace velmora
