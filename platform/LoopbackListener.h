#pragma once
// TCP on 127.0.0.1 for the sample site, the tests' servers and their clients: a listener, the
// connections it accepts or a client makes, and waits that a Waker cuts short so that a server
// can stop threads blocked on their sockets. Every wait and transfer goes through a readiness
// poll, so none blocks past its waker or time-out, and writing to a closed peer is an error
// value, never a signal. Winsock is started the first time any of these is made.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// How a wait or transfer on a socket ended.
enum class SocketStatus {
    kOk,        // ready, or bytes moved
    kEnd,       // the peer closed its sending side
    kReset,     // the peer reset the connection
    kTimedOut,  // the time-out passed first
    kWoken,     // the waker was woken first
    kFailed,    // anything else, the socket invalid included
};

// Wakes every wait given it, at once and from then on. Wake may be called from any thread.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // False when the system refused what it is built from.
    [[nodiscard]] bool valid() const;
    void Wake();

private:
    friend class LoopbackConnection;
    friend class LoopbackListener;
    // What a wait watches for the waker, -1 for none.
    static std::intptr_t Watched(const Waker* waker) { return waker ? waker->watched_ : -1; }

    std::intptr_t watched_ = -1;  // becomes readable for good once woken
    std::intptr_t poked_ = -1;
};

// A connected TCP socket, closed with the object. One thread transfers on it at a time; Shutdown
// may come from another while it does.
class LoopbackConnection {
public:
    LoopbackConnection() = default;
    ~LoopbackConnection();
    LoopbackConnection(LoopbackConnection&& other) noexcept;
    LoopbackConnection& operator=(LoopbackConnection&& other) noexcept;

    // A connection to 127.0.0.1:port; invalid when refused.
    [[nodiscard]] static LoopbackConnection Connect(std::uint16_t port);
    // A connection attempt left to itself: it returns at once, answered or not (a test fills a
    // listener's queue with these).
    [[nodiscard]] static LoopbackConnection StartConnecting(std::uint16_t port);

    [[nodiscard]] bool valid() const { return socket_ != -1; }

    struct Received {
        SocketStatus status = SocketStatus::kFailed;
        std::size_t bytes = 0;  // only with kOk, and then at least 1
    };
    // Waits until bytes arrive (or the end, a reset, the time-out, the waker) and reads up to
    // `size` of them. Without a time-out it waits as long as it takes.
    [[nodiscard]] Received Receive(char* buffer, std::size_t size, const Waker* waker = nullptr,
                                   std::optional<std::chrono::milliseconds> timeout = {});
    // Sends every byte, waiting for room as needed: kOk, or why it stopped.
    [[nodiscard]] SocketStatus SendAll(std::string_view bytes, const Waker* waker = nullptr);

    // Ends the sending side: the peer reads the end of the stream after what was sent.
    void ShutdownSend();
    // Ends both sides; a transfer blocked on the connection in another thread ends with it.
    void Shutdown();
    // Sends segments at once instead of gathering small ones.
    void SetNoDelay();
    // Closing then resets the connection instead of ending it in order.
    void ResetOnClose();
    void Close();

private:
    explicit LoopbackConnection(std::intptr_t socket) : socket_(socket) {}
    friend class LoopbackListener;
    friend class Waker;
    std::intptr_t socket_ = -1;
};

// A listening socket on 127.0.0.1, closed with the object.
class LoopbackListener {
public:
    // The system's largest queue of connections not yet accepted.
    static constexpr int kMaxBacklog = -1;

    LoopbackListener() = default;
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds 127.0.0.1:port (0: an ephemeral one) and listens with room for `backlog`
    // connections not yet accepted; false, with error() telling why, when it cannot.
    [[nodiscard]] bool Listen(std::uint16_t port, int backlog = kMaxBacklog);
    [[nodiscard]] std::uint16_t port() const { return port_; }
    [[nodiscard]] const std::string& error() const { return error_; }

    // Waits for a connection (kOk), the waker, the time-out, or a failure.
    [[nodiscard]] SocketStatus WaitForConnection(
        const Waker* waker, std::optional<std::chrono::milliseconds> timeout = {});
    // The next waiting connection; invalid when there is none or the system refused it (out of
    // descriptors, say).
    [[nodiscard]] LoopbackConnection Accept();
    void Close();

private:
    std::intptr_t socket_ = -1;
    std::uint16_t port_ = 0;
    std::string error_;
};

}  // namespace velmora
