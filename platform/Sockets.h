#pragma once
// The few socket calls the HTTP client makes itself, around the connections libcurl opens.

#include <cstdint>
#include <span>

namespace velmora {

// A socket as libcurl's curl_socket_t holds it: a descriptor here, a SOCKET on Windows.
using SocketHandle = std::uintptr_t;
// What a failed opening gives: -1 here, INVALID_SOCKET on Windows, both all bits set.
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

// A socket that a program started by this one does not inherit, so that it cannot keep a
// connection open; kNoSocket when it cannot be made. `family`, `type` and `protocol` as the
// system's socket() takes them.
[[nodiscard]] SocketHandle OpenSocket(int family, int type, int protocol);
[[nodiscard]] bool CloseSocket(SocketHandle socket);

// Without waiting: bytes wait to be read, or the peer closed the connection, or it failed.
[[nodiscard]] bool HasInputOrHangUp(SocketHandle socket);

// What a socket is watched for, and found ready for: bits of these.
inline constexpr unsigned kSocketReadable = 1;  // bytes to read, or the peer closed
inline constexpr unsigned kSocketWritable = 2;
inline constexpr unsigned kSocketFailed = 4;

struct SocketWatch {
    SocketHandle socket = kNoSocket;
    unsigned watchedFor = 0;
    unsigned readyFor = 0;
};
// Without waiting, with one system call: fills each one's readyFor. False when the call failed.
[[nodiscard]] bool PollSockets(std::span<SocketWatch> sockets);
// Ends both directions, so that every later read or write on the connection fails at once.
void ShutDownSocket(SocketHandle socket);

// Whether the system's error of a failed connect (libcurl's CURLINFO_OS_ERRNO) says that
// nothing listens there.
[[nodiscard]] bool IsConnectionRefused(long systemError);

}  // namespace velmora
