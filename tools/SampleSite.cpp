// The site served: the listener and its connections, request heads read and recorded, answers
// sent at their pace, held answers and late bytes, and the concurrency log.

#include "tools/SampleSite.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/LoopbackListener.h"
#include "platform/TimerSlack.h"
#include "tools/SiteAnswers.h"
#include "tools/SiteContent.h"
#include "tools/SiteHttp.h"

namespace velmora::site {
namespace {

// A request head larger than this is refused (431); clients of the site send well under 2 KB.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// Each connection holds a thread; more than this at once are closed on arrival.
constexpr std::size_t kMaxConnections = 256;
// An idle keep-alive connection is closed after this long, so a forgotten one frees its thread.
constexpr std::chrono::milliseconds kIdleTimeout{60 * 1000};
// Input still read after an answer that ends a connection, and for how long it is waited for.
constexpr std::size_t kMaxDrainBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTimeout{2000};
// A slow answer's body goes out in this many pieces spread over SiteOptions::slowMs.
constexpr int kSlowPieces = 10;
// What follows a late-bytes answer: a whole response of its own, which a client that reuses
// the connection would take for the answer to its next request.
constexpr std::string_view kLateBytes =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
constexpr std::size_t kReceiveChunk = 16 * 1024;

using Clock = std::chrono::steady_clock;
constexpr std::string_view kLoopback = "127.0.0.1";

}  // namespace

struct SampleSite::Impl {
    struct Connection {
        LoopbackConnection socket;
        int number = 0;
        bool finished = false;
        std::thread thread;
    };

    // Why reading the next request head stopped.
    enum class ReadResult { Head, Closed, TooLarge };

    explicit Impl(SiteOptions siteOptions) : options(std::move(siteOptions)) {}

    bool Start();
    void Stop();
    void AcceptLoop();
    void JoinFinished();
    // False when the connection is to be reset rather than closed in order.
    bool Serve(Connection& connection);
    void DrainBeforeClose(LoopbackConnection& socket);
    ReadResult ReadHead(LoopbackConnection& socket, std::string& buffer, std::size_t& headEnd);
    bool Discard(LoopbackConnection& socket, std::string& buffer, std::size_t bytes);
    // Appends what arrives next; false at the end, after a time-out or once the site stops.
    bool ReceiveMore(LoopbackConnection& socket, std::string& buffer,
                     std::chrono::milliseconds timeout);
    bool PauseUnlessStopped(Clock::time_point until);
    bool HoldUnlessStopped();
    RecordedRequest Record(RecordedRequest request, const Route& route, bool answerable);
    // Request `number`'s answer starts to go out (or it is dropped).
    void Answered(int number);
    // How the bytes of an answer go out.
    enum class Pace { AtOnce, Slow, Trickle };
    // extraHeaders: whole header lines, each ended by CR LF.
    bool Send(LoopbackConnection& socket, const Response& response, bool keepAlive, bool withBody,
              Pace pace, std::string_view extraHeaders = {});
    bool SendLateBytes(LoopbackConnection& socket);

    SiteOptions options;
    std::string error;
    bool started = false;
    LoopbackListener listener;
    // Woken at the stop, for good: every wait on a socket ends.
    Waker waker;
    std::uint16_t port = 0;
    std::string baseUrl;
    std::thread acceptThread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;  // a request arrived, a release, the stop
    std::vector<RecordedRequest> requests;
    int requestsArrived = 0;
    int connectionsAccepted = 0;
    // The concurrency log's counts now and at most.
    int openConnections = 0;
    int maxOpenConnections = 0;
    int requestsInFlight = 0;
    int maxRequestsInFlight = 0;
    bool stopping = false;
    bool released = false;
    std::size_t lateBytesSent = 0;
    std::list<Connection> connections;
    // Its faults are chosen under `mutex`.
    SiteAnswers answers{options, baseUrl};
};

bool SampleSite::Impl::Start() {
    if (started || stopping) {
        error = "the site was started before";
        return false;
    }
    if (options.pages < 0 || options.pages > kMaxPages || options.linksPerPage < 0 ||
        options.linksPerPage > kMaxLinksPerPage || options.latencyMs < 0 ||
        options.latencyMs > kMaxDelayMs || options.loadLatencyMs < 0 ||
        options.loadLatencyMs > kMaxDelayMs || options.slowMs < 0 || options.slowMs > kMaxDelayMs ||
        options.companyPageBytes > kMaxCompanyPageBytes || options.trickleMs < 0 ||
        options.trickleMs > kMaxDelayMs || options.manyLinks < 0 ||
        options.manyLinks > kMaxManyLinks || options.hugePageBytes > kMaxCompanyPageBytes ||
        options.lateMs < 0 || options.lateMs > kMaxDelayMs) {
        error = "an option is out of range";
        return false;
    }
    if (!waker.valid()) {
        error = "cannot make the stop's waker";
        return false;
    }
    if (!listener.Listen(options.port)) {
        error = listener.error();
        return false;
    }
    started = true;
    port = listener.port();
    baseUrl = "http://" + std::string(kLoopback) + ":" + std::to_string(port);
    acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void SampleSite::Impl::Stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
        for (Connection& connection : connections) connection.socket.Shutdown();
    }
    changed.notify_all();
    waker.Wake();
    if (acceptThread.joinable()) acceptThread.join();
    std::list<Connection> remaining;
    {
        std::lock_guard lock(mutex);
        remaining.splice(remaining.end(), connections);
    }
    for (Connection& connection : remaining) connection.thread.join();
    listener.Close();
}

void SampleSite::Impl::JoinFinished() {
    std::list<Connection> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if (it->finished) finished.splice(finished.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : finished) connection.thread.join();
}

void SampleSite::Impl::AcceptLoop() {
    while (listener.WaitForConnection(&waker) == SocketStatus::kOk) {
        LoopbackConnection socket = listener.Accept();
        if (!socket.valid()) {
            // Out of descriptors: give the connections a moment to end rather than spin.
            if (!PauseUnlessStopped(Clock::now() + std::chrono::milliseconds(100))) return;
            continue;
        }
        socket.SetNoDelay();
        JoinFinished();
        std::lock_guard lock(mutex);
        if (stopping || connections.size() >= kMaxConnections) continue;
        Connection& connection = connections.emplace_back();
        connection.socket = std::move(socket);
        connection.number = ++connectionsAccepted;
        try {
            connection.thread = std::thread([this, &connection] {
                KeepTimedWaitsPrecise();
                if (Serve(connection)) DrainBeforeClose(connection.socket);
                std::lock_guard finishLock(mutex);
                connection.socket.Close();
                connection.finished = true;
                --openConnections;
            });
            maxOpenConnections = std::max(maxOpenConnections, ++openConnections);
        } catch (const std::system_error&) {
            connections.pop_back();
        }
    }
}

bool SampleSite::Impl::ReceiveMore(LoopbackConnection& socket, std::string& buffer,
                                   std::chrono::milliseconds timeout) {
    char chunk[kReceiveChunk];
    const LoopbackConnection::Received received =
        socket.Receive(chunk, sizeof chunk, &waker, timeout);
    if (received.status != SocketStatus::kOk) return false;
    buffer.append(chunk, received.bytes);
    return true;
}

SampleSite::Impl::ReadResult SampleSite::Impl::ReadHead(LoopbackConnection& socket,
                                                        std::string& buffer, std::size_t& headEnd) {
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > kMaxHeadBytes) return ReadResult::TooLarge;
        if (!ReceiveMore(socket, buffer, kIdleTimeout)) return ReadResult::Closed;
    }
    if (headEnd > kMaxHeadBytes) return ReadResult::TooLarge;
    return ReadResult::Head;
}

// Closing with unread input would reset the connection and could destroy the answer before
// the client reads it; so the sending side is closed first and the rest of the input read.
void SampleSite::Impl::DrainBeforeClose(LoopbackConnection& socket) {
    socket.ShutdownSend();
    std::size_t drained = 0;
    std::string chunk;
    while (drained < kMaxDrainBytes && ReceiveMore(socket, chunk, kDrainTimeout)) {
        drained += chunk.size();
        chunk.clear();
    }
}

bool SampleSite::Impl::Discard(LoopbackConnection& socket, std::string& buffer, std::size_t bytes) {
    while (buffer.size() < bytes) {
        bytes -= buffer.size();
        buffer.clear();
        if (!ReceiveMore(socket, buffer, kIdleTimeout)) return false;
    }
    buffer.erase(0, bytes);
    return true;
}

bool SampleSite::Impl::PauseUnlessStopped(Clock::time_point until) {
    std::unique_lock lock(mutex);
    changed.wait_until(lock, until, [&] { return stopping; });
    return !stopping;
}

bool SampleSite::Impl::HoldUnlessStopped() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return stopping || released; });
    return !stopping;
}

RecordedRequest SampleSite::Impl::Record(RecordedRequest request, const Route& route,
                                         bool answerable) {
    {
        std::lock_guard lock(mutex);
        request.number = ++requestsArrived;
        if (answerable) request.fault = answers.FaultFor(request.number, route);
        request.arrived = Clock::now();
        request.openConnections = openConnections;
        request.inFlight = ++requestsInFlight;
        maxRequestsInFlight = std::max(maxRequestsInFlight, requestsInFlight);
        requests.push_back(request);
    }
    changed.notify_all();
    return request;
}

void SampleSite::Impl::Answered(int number) {
    std::lock_guard lock(mutex);
    --requestsInFlight;
    // The latest requests are the likeliest.
    const auto request = std::find_if(requests.rbegin(), requests.rend(),
                                      [&](const RecordedRequest& r) { return r.number == number; });
    if (request != requests.rend()) request->answered = Clock::now();
}

bool SampleSite::Impl::Send(LoopbackConnection& socket, const Response& response, bool keepAlive,
                            bool withBody, Pace pace, std::string_view extraHeaders) {
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + std::string(response.reason) + "\r\n";
    head += "Content-Type: text/html; charset=utf-8\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += extraHeaders;
    head += "\r\n";
    auto sendAll = [&](std::string_view bytes) {
        return socket.SendAll(bytes, &waker) == SocketStatus::kOk;
    };
    // Sends `bytes` in pieces of `piece` bytes, the first after `gap` and each next one `gap`
    // after the one before.
    auto sendPaced = [&](std::string_view bytes, std::size_t piece, Clock::duration gap) {
        while (!bytes.empty()) {
            if (!PauseUnlessStopped(Clock::now() + gap)) return false;
            std::size_t take = std::min(piece, bytes.size());
            if (!sendAll(bytes.substr(0, take))) return false;
            bytes.remove_prefix(take);
        }
        return true;
    };
    std::string_view body = withBody ? std::string_view(response.body) : std::string_view();
    switch (pace) {
        case Pace::AtOnce:
            return sendAll(head + std::string(body));
        case Pace::Slow:
            return sendAll(head) &&
                   sendPaced(body, (body.size() + kSlowPieces - 1) / kSlowPieces,
                             std::chrono::milliseconds(options.slowMs) / kSlowPieces);
        case Pace::Trickle: {
            const auto gap = std::chrono::milliseconds(options.trickleMs);
            for (std::string_view lines = head; !lines.empty();) {
                std::size_t lineEnd = lines.find("\r\n") + 2;
                if (!sendPaced(lines.substr(0, lineEnd), lineEnd, gap)) return false;
                lines.remove_prefix(lineEnd);
            }
            return sendPaced(body, 1, gap);
        }
    }
    return false;
}

bool SampleSite::Impl::SendLateBytes(LoopbackConnection& socket) {
    if (!PauseUnlessStopped(Clock::now() + std::chrono::milliseconds(options.lateMs))) {
        return false;
    }
    if (socket.SendAll(kLateBytes, &waker) != SocketStatus::kOk) return false;
    {
        std::lock_guard lock(mutex);
        ++lateBytesSent;
    }
    changed.notify_all();
    return true;
}

bool SampleSite::Impl::Serve(Connection& connection) {
    LoopbackConnection& socket = connection.socket;
    std::string buffer;
    while (true) {
        std::size_t headEnd = 0;
        ReadResult result = ReadHead(socket, buffer, headEnd);
        if (result == ReadResult::Closed) return true;
        const Clock::time_point due = Clock::now() + std::chrono::milliseconds(options.latencyMs);
        if (result == ReadResult::TooLarge) {
            Send(socket, {431, ReasonOf(431), {}}, false, true, Pace::AtOnce);
            return true;
        }
        ParsedHead parsed = ParseHead(std::string_view(buffer).substr(0, headEnd));
        buffer.erase(0, headEnd + 4);
        if (!parsed.recordable) {
            Send(socket, {parsed.refusal, ReasonOf(parsed.refusal), {}}, false, true, Pace::AtOnce);
            return true;
        }
        parsed.request.connection = connection.number;
        Route route = ParseRoute(parsed.request.target);
        RecordedRequest request = Record(std::move(parsed.request), route, parsed.refusal == 0);
        // The request is in flight until its answer starts to go out (a client can send its next
        // request only after that), or until it is dropped.
        struct InFlight {
            Impl& site;
            int number;
            bool over = false;
            void End() {
                if (!std::exchange(over, true)) site.Answered(number);
            }
            ~InFlight() { End(); }
        } inFlight{*this, request.number};
        if (options.onRequest) options.onRequest(request);
        if (parsed.refusal != 0) {
            Send(socket, {parsed.refusal, ReasonOf(parsed.refusal), {}}, false, true, Pace::AtOnce);
            return true;
        }
        if (!Discard(socket, buffer, parsed.bodyBytes)) return true;
        // The answer is made during the latency, as a remote server's work is part of its.
        Response response = answers.Answer(request, route);
        const Clock::time_point loadedDue =
            due + std::chrono::milliseconds(options.loadLatencyMs) * (request.inFlight - 1);
        if (loadedDue > Clock::now() && !PauseUnlessStopped(loadedDue)) return true;
        if (request.fault == FaultKind::Hold && !HoldUnlessStopped()) return true;
        inFlight.End();
        if (request.fault == FaultKind::Reset) {
            socket.ResetOnClose();
            return false;
        }
        std::string extraHeaders;
        if (request.fault == FaultKind::Redirect) {
            extraHeaders = "Location: " + std::string(kMovedPath) + request.target + "\r\n";
        }
        if (request.fault == FaultKind::RedirectLoop) {
            const bool looping = request.target.starts_with(kLoopPath);
            extraHeaders =
                "Location: " + std::string(looping ? "" : kLoopPath) + request.target + "\r\n";
        }
        if (options.sessionCookie && !request.Header("Cookie")) {
            extraHeaders +=
                "Set-Cookie: VSESSID=s" + std::to_string(request.number) + "; path=/\r\n";
        }
        if (!options.retryAfter.empty() && (response.status == 429 || response.status == 503)) {
            extraHeaders += "Retry-After: " + options.retryAfter + "\r\n";
        }
        const Pace pace = request.fault == FaultKind::Slow      ? Pace::Slow
                          : request.fault == FaultKind::Trickle ? Pace::Trickle
                                                                : Pace::AtOnce;
        if (!Send(socket, response, parsed.keepAlive, request.method != "HEAD", pace,
                  extraHeaders) ||
            !parsed.keepAlive) {
            return true;
        }
        if (request.fault == FaultKind::LateBytes && !SendLateBytes(socket)) return true;
    }
}

SampleSite::SampleSite(SiteOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SampleSite::~SampleSite() {
    Stop();
}

bool SampleSite::Start() {
    return impl_->Start();
}
void SampleSite::Stop() {
    impl_->Stop();
}
const std::string& SampleSite::Error() const {
    return impl_->error;
}
std::uint16_t SampleSite::Port() const {
    return impl_->port;
}
std::string SampleSite::BaseUrl() const {
    return impl_->baseUrl;
}
const SiteOptions& SampleSite::Options() const {
    return impl_->options;
}

std::string SampleSite::SearchUrl(std::string_view keyword, int page) const {
    return impl_->baseUrl + SearchTarget(keyword, page);
}

std::string SampleSite::CompanyUrl(std::string_view keyword, int number) const {
    return impl_->baseUrl + CompanyTarget(KeywordSeed(keyword), number);
}

std::vector<RecordedRequest> SampleSite::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t SampleSite::RequestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests.size();
}

int SampleSite::MaxOpenConnections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->maxOpenConnections;
}

int SampleSite::MaxRequestsInFlight() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->maxRequestsInFlight;
}

bool SampleSite::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

void SampleSite::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

bool SampleSite::WaitForLateBytes(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->lateBytesSent >= count; });
}

void SampleSite::ReleaseHeld() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->released = true;
    }
    impl_->changed.notify_all();
}

}  // namespace velmora::site
