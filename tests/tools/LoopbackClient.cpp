#include "LoopbackClient.h"

#include <charconv>

namespace velmora::site {
namespace {

// Long enough for any answer of the site under a sanitizer, short enough to fail visibly.
constexpr std::chrono::seconds kReadTimeout{30};

}  // namespace

LoopbackClient::LoopbackClient(std::uint16_t port) : socket_(LoopbackConnection::Connect(port)) {}

bool LoopbackClient::Send(std::string_view bytes) {
    return socket_.SendAll(bytes) == SocketStatus::kOk;
}

bool LoopbackClient::Fill() {
    char chunk[16384];
    const LoopbackConnection::Received received =
        socket_.Receive(chunk, sizeof chunk, nullptr, kReadTimeout);
    if (received.status == SocketStatus::kReset) reset_ = true;
    if (received.status == SocketStatus::kEnd) closed_ = true;
    if (received.status != SocketStatus::kOk) return false;
    buffer_.append(chunk, received.bytes);
    return true;
}

std::optional<Reply> LoopbackClient::Receive(bool headOnly) {
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill()) return std::nullopt;
    }
    Reply reply;
    reply.head = buffer_.substr(0, headEnd + 2);
    buffer_.erase(0, headEnd + 4);
    if (!reply.head.starts_with("HTTP/1.1 ")) return std::nullopt;
    std::from_chars(reply.head.data() + 9, reply.head.data() + reply.head.size(), reply.status);
    std::size_t length = 0;
    constexpr std::string_view kLength = "\r\nContent-Length: ";
    if (std::size_t at = reply.head.find(kLength); at != std::string::npos && !headOnly) {
        const char* digits = reply.head.data() + at + kLength.size();
        std::from_chars(digits, reply.head.data() + reply.head.size(), length);
    }
    while (buffer_.size() < length) {
        if (!Fill()) return std::nullopt;
    }
    reply.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return reply;
}

ConnectionEnd LoopbackClient::End() {
    while (Fill()) {
    }
    if (reset_) return ConnectionEnd::Reset;
    return closed_ ? ConnectionEnd::Closed : ConnectionEnd::StillOpen;
}

bool ClosingCanReset() {
    static const bool resets = [] {
        LoopbackListener listener;
        if (!listener.Listen(0)) return false;
        LoopbackConnection client = LoopbackConnection::Connect(listener.port());
        if (listener.WaitForConnection(nullptr) != SocketStatus::kOk) return false;
        LoopbackConnection server = listener.Accept();
        server.ResetOnClose();
        server.Close();
        char byte;
        return client.Receive(&byte, 1, nullptr, kReadTimeout).status == SocketStatus::kReset;
    }();
    return resets;
}

std::string GetRequest(std::string_view target, std::initializer_list<std::string_view> headers) {
    std::string request = "GET " + std::string(target) + " HTTP/1.1\r\n";
    for (std::string_view line : headers) request += std::string(line) + "\r\n";
    return request + "\r\n";
}

}  // namespace velmora::site
