#pragma once
// A raw HTTP/1.1 server on 127.0.0.1 and an ephemeral port for the client's tests: it records
// the exact bytes of every request and answers each with a scripted reply, written as it is
// (so replies may be malformed, cut short, endless or held open on purpose).

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/LoopbackListener.h"

namespace velmora::testing {

struct ScriptedReply {
    enum class Then {
        kKeepOpen,       // read the next request on the same connection
        kClose,          // close the connection
        kHoldOpen,       // send nothing more; close when the client does or the server stops
        kStreamForever,  // keep sending filler bytes until the client goes away
    };
    ScriptedReply(std::string replyBytes, Then thenWhat = Then::kKeepOpen)
        : bytes(std::move(replyBytes)), then(thenWhat) {}

    std::string bytes;
    Then then;
    // When valid: after `bytes`, wait for it, then send `afterGate` (and go on with `then`).
    std::shared_future<void> gate;
    std::string afterGate;
};

// "HTTP/1.1 200 OK" with Content-Length, the extra header lines (each ended by CR LF) and body.
std::string OkReply(std::string_view body, std::string_view extraHeaders = {});

class LoopbackServer {
public:
    // Called on the connection's thread with the request's bytes and its 0-based number.
    using Handler = std::function<ScriptedReply(const std::string& request, int index)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(std::string_view path) const;

    // Requests received so far, exact bytes (head and body), in arrival order.
    std::vector<std::string> Requests() const;
    // Waits until request `index` has arrived and returns it.
    std::string WaitForRequest(std::size_t index) const;
    // Waits until `count` replies have been written (their `bytes` part).
    void WaitForReplies(std::size_t count) const;
    int ConnectionsAccepted() const;

private:
    void AcceptLoop();
    void Serve(LoopbackConnection& socket);
    bool WriteAll(LoopbackConnection& socket, std::string_view bytes) const;
    void HoldOpen(LoopbackConnection& socket) const;
    void StreamForever(LoopbackConnection& socket) const;

    Handler handler_;
    LoopbackListener listener_;
    // Woken when the server goes, for good: every wait on a socket ends.
    Waker stop_;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::size_t repliesWritten_ = 0;
    int connections_ = 0;
    std::vector<std::thread> connectionThreads_;
    std::thread acceptThread_;
};

}  // namespace velmora::testing
