#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace velmora::testing {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kFillerChunk = 64 * 1024;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Bytes of a complete request at the front of `buffer` (head and Content-Length body), or 0.
std::size_t CompleteRequestLength(const std::string& buffer) {
    std::size_t headEnd = buffer.find("\r\n\r\n");
    if (headEnd == std::string::npos) return 0;
    headEnd += 4;
    std::string head = Lower(std::string_view(buffer).substr(0, headEnd));
    std::size_t length = 0;
    std::size_t field = head.find("\r\ncontent-length:");
    if (field != std::string::npos) {
        length = std::stoul(head.substr(field + 17));
    }
    return buffer.size() >= headEnd + length ? headEnd + length : 0;
}

}  // namespace

std::string OkReply(std::string_view body, std::string_view extraHeaders) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    if (pipe(wakePipe_) != 0) throw std::runtime_error("pipe");
    listenSocket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenSocket_, 64) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    socklen_t size = sizeof address;
    getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    char wake = 1;
    [[maybe_unused]] auto written = write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connectionThreads_);
    }
    for (std::thread& thread : threads) thread.join();
    close(listenSocket_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

std::string LoopbackServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LoopbackServer::WaitForRequest(std::size_t index) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return requests_.size() > index; });
    return requests_[index];
}

void LoopbackServer::WaitForReplies(std::size_t count) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return repliesWritten_ >= count; });
}

int LoopbackServer::ConnectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

// True when `socket` has bytes (or end of stream) to read; false once the server stops.
bool LoopbackServer::WaitReadable(int socket) const {
    pollfd fds[2] = {{socket, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    while (true) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        if (fds[0].revents != 0) return true;
    }
}

void LoopbackServer::AcceptLoop() {
    while (WaitReadable(listenSocket_)) {
        int connection = accept(listenSocket_, nullptr, nullptr);
        if (connection < 0) continue;
        std::lock_guard lock(mutex_);
        ++connections_;
        connectionThreads_.emplace_back([this, connection] { Serve(connection); });
    }
}

bool LoopbackServer::WriteAll(int socket, std::string_view bytes) const {
    while (!bytes.empty()) {
        pollfd fds[2] = {{socket, POLLOUT, 0}, {wakePipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void LoopbackServer::HoldOpen(int socket) const {
    char sink[kReadChunk];
    while (WaitReadable(socket) && recv(socket, sink, sizeof sink, 0) > 0) {
    }
}

void LoopbackServer::StreamForever(int socket) const {
    const std::string filler(kFillerChunk, 'x');
    while (WriteAll(socket, filler)) {
    }
}

void LoopbackServer::Serve(int socket) {
    std::string buffer;
    char chunk[kReadChunk];
    bool open = true;
    while (open) {
        std::size_t length = CompleteRequestLength(buffer);
        if (length == 0) {
            if (!WaitReadable(socket)) break;
            ssize_t received = recv(socket, chunk, sizeof chunk, 0);
            if (received <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(received));
            continue;
        }
        std::string request = buffer.substr(0, length);
        buffer.erase(0, length);
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(requests_.size());
            requests_.push_back(request);
        }
        changed_.notify_all();
        ScriptedReply reply = handler_(request, index);
        open = WriteAll(socket, reply.bytes);
        {
            std::lock_guard lock(mutex_);
            ++repliesWritten_;
        }
        changed_.notify_all();
        if (open && reply.gate.valid()) {
            reply.gate.wait();
            open = WriteAll(socket, reply.afterGate);
        }
        if (!open) break;
        switch (reply.then) {
            case ScriptedReply::Then::kKeepOpen:
                break;
            case ScriptedReply::Then::kClose:
                open = false;
                break;
            case ScriptedReply::Then::kHoldOpen:
                HoldOpen(socket);
                open = false;
                break;
            case ScriptedReply::Then::kStreamForever:
                StreamForever(socket);
                open = false;
                break;
        }
    }
    close(socket);
}

}  // namespace velmora::testing
