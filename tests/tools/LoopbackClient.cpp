#include "LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace velmora::site {
namespace {

// Long enough for any answer of the site under a sanitizer, short enough to fail visibly.
constexpr int kReadTimeoutSeconds = 30;

}  // namespace

LoopbackClient::LoopbackClient(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    timeval timeout{kReadTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

LoopbackClient::~LoopbackClient() {
    if (fd_ >= 0) close(fd_);
}

bool LoopbackClient::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool LoopbackClient::Fill() {
    char chunk[16384];
    ssize_t received = recv(fd_, chunk, sizeof chunk, 0);
    if (received < 0 && errno == ECONNRESET) reset_ = true;
    if (received == 0) closed_ = true;
    if (received <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(received));
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

std::string GetRequest(std::string_view target, std::initializer_list<std::string_view> headers) {
    std::string request = "GET " + std::string(target) + " HTTP/1.1\r\n";
    for (std::string_view line : headers) request += std::string(line) + "\r\n";
    return request + "\r\n";
}

}  // namespace velmora::site
