#pragma once
// A bare HTTP/1.1 client over one TCP connection, so tests control the exact bytes sent and see
// how the connection ends. Every read gives up after kReadTimeout, so a broken server fails the
// test instead of hanging it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/LoopbackListener.h"

namespace velmora::site {

struct Reply {
    int status = 0;
    std::string head;  // status line and header lines, up to the empty line
    std::string body;
};

enum class ConnectionEnd { Closed, Reset, StillOpen };

class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port);

    bool Connected() const { return socket_.valid(); }
    bool Send(std::string_view bytes);
    // Reads one response; HEAD answers carry no body whatever their Content-Length says.
    std::optional<Reply> Receive(bool headOnly = false);
    // Reads to the end of the connection and tells how it ended; StillOpen only after the read
    // timeout, so tests ask this only of connections that should end.
    ConnectionEnd End();

private:
    bool Fill();

    LoopbackConnection socket_;
    std::string buffer_;
    bool reset_ = false;
    bool closed_ = false;
};

// Whether closing a connection with ResetOnClose resets it for the peer; Wine 8 ends it in
// order instead.
bool ClosingCanReset();

// A GET request of `target` with the given header lines (each without CR LF).
std::string GetRequest(std::string_view target,
                       std::initializer_list<std::string_view> headers = {"Host: 127.0.0.1"});

}  // namespace velmora::site
