#include "LoopbackServer.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace velmora::testing {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// Connections the kernel holds before the accept thread takes them; tests open a few at once.
constexpr int kBacklog = 64;
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
    if (!stop_.valid()) throw std::runtime_error("cannot make a waker");
    if (!listener_.Listen(0, kBacklog)) throw std::runtime_error(listener_.error());
    port_ = listener_.port();
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stop_.Wake();
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connectionThreads_);
    }
    for (std::thread& thread : threads) thread.join();
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

void LoopbackServer::AcceptLoop() {
    while (listener_.WaitForConnection(&stop_) == SocketStatus::kOk) {
        LoopbackConnection connection = listener_.Accept();
        if (!connection.valid()) continue;
        std::lock_guard lock(mutex_);
        ++connections_;
        connectionThreads_.emplace_back(
            [this, owned = std::move(connection)]() mutable { Serve(owned); });
    }
}

bool LoopbackServer::WriteAll(LoopbackConnection& socket, std::string_view bytes) const {
    return socket.SendAll(bytes, &stop_) == SocketStatus::kOk;
}

void LoopbackServer::HoldOpen(LoopbackConnection& socket) const {
    char sink[kReadChunk];
    while (socket.Receive(sink, sizeof sink, &stop_).status == SocketStatus::kOk) {
    }
}

void LoopbackServer::StreamForever(LoopbackConnection& socket) const {
    const std::string filler(kFillerChunk, 'x');
    while (WriteAll(socket, filler)) {
    }
}

void LoopbackServer::Serve(LoopbackConnection& socket) {
    std::string buffer;
    char chunk[kReadChunk];
    bool open = true;
    while (open) {
        std::size_t length = CompleteRequestLength(buffer);
        if (length == 0) {
            const LoopbackConnection::Received received =
                socket.Receive(chunk, sizeof chunk, &stop_);
            if (received.status != SocketStatus::kOk) break;
            buffer.append(chunk, received.bytes);
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
    socket.Close();
}

}  // namespace velmora::testing
