#include "http/ExchangeLoop.h"

#include <algorithm>
#include <utility>

#include "http/CurlTransport.h"
#include "http/HttpClient.h"
#include "platform/Sockets.h"

namespace velmora {
namespace {

// Where one client's exchange stands between its hops, as SendHop's arguments would.
struct Exchange {
    HttpClient* client = nullptr;
    TransferSetup setup;
    std::size_t limit = kMaxBodyBytes;
    int redirectsLeft = kMaxRedirects;
    bool keepsOrigin = true;
    std::chrono::milliseconds timeLeft{};
    bool restoreAutoHeaders = false;
    bool retried = false;   // this hop went again on a connection of its own
    bool finished = false;  // libcurl is done with the hop's transfer
    bool over = false;      // and with the exchange
};

}  // namespace

// The loop drives libcurl by its socket interface: only the transfers whose socket is ready, or
// whose timer is due, are moved on. curl_multi_perform would look at every running transfer's
// socket with a system call of its own at each wake-up.
struct ExchangeLoop::Impl {
    using Clock = std::chrono::steady_clock;

    // A socket libcurl asked to have watched, for the transfer of `easy`.
    struct Watched {
        curl_socket_t socket;
        CURL* easy;
        int what;  // CURL_POLL_IN, _OUT or _INOUT
    };

    // Before the multi handle: its connections close into the pool as it is cleaned up.
    SocketPool sockets;
    CURLM* multi = nullptr;
    std::vector<std::unique_ptr<Exchange>> running;
    std::vector<HttpClient*> ended;
    std::vector<Watched> watched;
    // When the running transfers' time-keeping is next due: the soonest of their bounds as last
    // checked. Only the ones that moved bytes are checked before it.
    Clock::time_point timeKeepingDue = Clock::time_point::max();

    static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* impl, void*);
    bool Launch(Exchange& exchange);
    // The hop's transfer has ended: goes on as SendHop does. False once the exchange is over.
    bool NextHop(Exchange& exchange);
    void End(Exchange& exchange);
    // Moves on the transfers whose socket is ready (looked at only when `waited`: after the
    // poll; the count of sockets it answers is not to be trusted on Windows) or whose libcurl
    // timer is due.
    void Advance(bool waited);
    // Hands libcurl the sockets that are ready; answers their transfers' easy handles.
    std::vector<CURL*> ActOnReadySockets();
    // Fails the transfers that stalled, crawled or ran out of time: of `easies` only, before
    // the time-keeping is due.
    void KeepTime(Clock::time_point now, const std::vector<CURL*>& easies);
    [[nodiscard]] bool TimerDue() const;
};

int ExchangeLoop::Impl::OnSocket(CURL* easy, curl_socket_t socket, int what, void* impl, void*) {
    std::vector<Watched>& watched = static_cast<Impl*>(impl)->watched;
    const auto found = std::find_if(watched.begin(), watched.end(),
                                    [socket](const Watched& w) { return w.socket == socket; });
    if (what == CURL_POLL_REMOVE) {
        if (found != watched.end()) watched.erase(found);
    } else if (found == watched.end()) {
        watched.push_back({socket, easy, what});
    } else {
        *found = {socket, easy, what};
    }
    return 0;
}

bool ExchangeLoop::Impl::Launch(Exchange& exchange) {
    HttpClient& client = *exchange.client;
    client.sessionHandle->sockets = &sockets;
    exchange.finished = false;
    // The pool's idle connections: the watched ones serve a transfer now.
    std::vector<curl_socket_t> inUse;
    for (const Watched& w : watched) inUse.push_back(w.socket);
    sockets.ShutDownIdleWithInput(inUse);
    if (!client.requestHandle->Attach(*client.sessionHandle, exchange.setup, client.readBuffer,
                                      exchange.limit, multi)) {
        return false;
    }
    // Its bounds join the others' at the next time-keeping, which is now.
    timeKeepingDue = Clock::time_point::min();
    return true;
}

bool ExchangeLoop::Impl::NextHop(Exchange& exchange) {
    HttpClient& client = *exchange.client;
    HttpClient::Transfer& transfer = *client.requestHandle;
    const bool responded = transfer.Responded();
    if (!responded && !exchange.retried && transfer.MayRetryOnFreshConnection()) {
        exchange.retried = true;
        client.PrepareRetry(exchange.setup);
        return Launch(exchange) || NextHop(exchange);
    }
    // At the bound the last response is kept as it is, Location and all. The redirect's body
    // came with it, up to the exchange's limit, and goes with the hop.
    if (client.TakeHopResponse(responded, 0) && exchange.redirectsLeft > 0 &&
        client.OpenRedirect(exchange.keepsOrigin, exchange.timeLeft)) {
        --exchange.redirectsLeft;
        exchange.retried = false;
        exchange.setup = TransferSetup{};
        if (client.PrepareHop({}, exchange.keepsOrigin, exchange.timeLeft, exchange.setup)) {
            return Launch(exchange) || NextHop(exchange);
        }
    }
    End(exchange);
    ended.push_back(&client);
    return false;
}

void ExchangeLoop::Impl::End(Exchange& exchange) {
    HttpClient& client = *exchange.client;
    client.autoHeaders = exchange.restoreAutoHeaders;
    client.EndHop();
    client.sessionHandle->sockets = &client.sessionHandle->ownSockets;
}

std::vector<CURL*> ExchangeLoop::Impl::ActOnReadySockets() {
    std::vector<SocketWatch> polled;
    polled.reserve(watched.size());
    for (const Watched& w : watched) {
        polled.push_back({static_cast<SocketHandle>(w.socket),
                          ((w.what & CURL_POLL_IN) != 0 ? kSocketReadable : 0u) |
                              ((w.what & CURL_POLL_OUT) != 0 ? kSocketWritable : 0u)});
    }
    std::vector<CURL*> moved;
    if (polled.empty() || !PollSockets(polled)) return moved;
    // Read before acting on any: an action may change what is watched.
    for (std::size_t i = 0; i < polled.size(); ++i) {
        if (polled[i].readyFor != 0) moved.push_back(watched[i].easy);
    }
    for (const SocketWatch& socket : polled) {
        const unsigned ready = socket.readyFor;
        if (ready == 0) continue;
        const int events = ((ready & kSocketReadable) != 0 ? CURL_CSELECT_IN : 0) |
                           ((ready & kSocketWritable) != 0 ? CURL_CSELECT_OUT : 0) |
                           ((ready & kSocketFailed) != 0 ? CURL_CSELECT_ERR : 0);
        int stillRunning = 0;
        curl_multi_socket_action(multi, static_cast<curl_socket_t>(socket.socket), events,
                                 &stillRunning);
    }
    return moved;
}

void ExchangeLoop::Impl::Advance(bool waited) {
    if (multi == nullptr) return;
    const std::vector<CURL*> moved = waited ? ActOnReadySockets() : std::vector<CURL*>{};
    int stillRunning = 0;
    if (TimerDue()) curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &stillRunning);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        for (auto& exchange : running) {
            HttpClient::Transfer& transfer = *exchange->client->requestHandle;
            if (exchange->client->sessionHandle->easy == message->easy_handle &&
                !exchange->finished) {
                transfer.Completed(message->data.result);
                exchange->finished = true;
                break;
            }
        }
    }
    KeepTime(Clock::now(), moved);
    // NextHop may launch a hop, which is then unfinished again.
    for (auto& exchange : running) {
        if (exchange->finished) exchange->over = !NextHop(*exchange);
    }
    std::erase_if(running,
                  [](const std::unique_ptr<Exchange>& exchange) { return exchange->over; });
}

void ExchangeLoop::Impl::KeepTime(Clock::time_point now, const std::vector<CURL*>& easies) {
    const bool due = now >= timeKeepingDue;
    if (due) timeKeepingDue = Clock::time_point::max();
    for (auto& exchange : running) {
        CURL* easy = exchange->client->sessionHandle->easy;
        if (exchange->finished ||
            (!due && std::find(easies.begin(), easies.end(), easy) == easies.end())) {
            continue;
        }
        const auto wait = exchange->client->requestHandle->KeepTime();
        if (wait) {
            timeKeepingDue = std::min(timeKeepingDue, now + *wait);
        } else {
            exchange->finished = true;
        }
    }
}

bool ExchangeLoop::Impl::TimerDue() const {
    long timeout = -1;
    return curl_multi_timeout(multi, &timeout) == CURLM_OK && timeout == 0;
}

ExchangeLoop::ExchangeLoop() : impl_(std::make_unique<Impl>()) {
    if (!InitialiseCurlOnce()) return;
    impl_->multi = curl_multi_init();
    if (impl_->multi != nullptr) {
        curl_multi_setopt(impl_->multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                          kDefaultConnectionsPerServer);
        curl_multi_setopt(impl_->multi, CURLMOPT_SOCKETFUNCTION, &Impl::OnSocket);
        curl_multi_setopt(impl_->multi, CURLMOPT_SOCKETDATA, impl_.get());
    }
}

ExchangeLoop::~ExchangeLoop() {
    while (!impl_->running.empty()) Abandon(*impl_->running.front()->client);
    if (impl_->multi != nullptr) curl_multi_cleanup(impl_->multi);
}

void ExchangeLoop::StartGet(HttpClient& client, const Text& url, int maxChunks) {
    auto exchange = std::make_unique<Exchange>();
    exchange->client = &client;
    exchange->limit = HttpClient::BodyLimit(maxChunks);
    if (impl_->multi == nullptr || !client.OpenRequest("GET", url)) {
        if (impl_->multi == nullptr) client.lastError = HttpError::kNotOpen;
        impl_->ended.push_back(&client);
        return;
    }
    exchange->timeLeft = client.sessionHandle->requestDeadline;
    exchange->restoreAutoHeaders = client.autoHeaders;
    if (!client.PrepareHop({}, true, exchange->timeLeft, exchange->setup)) {
        impl_->ended.push_back(&client);
        return;
    }
    if (impl_->Launch(*exchange) || impl_->NextHop(*exchange)) {
        impl_->running.push_back(std::move(exchange));
    }
}

void ExchangeLoop::Abandon(HttpClient& client) {
    auto found = std::find_if(impl_->running.begin(), impl_->running.end(),
                              [&client](const std::unique_ptr<Exchange>& exchange) {
                                  return exchange->client == &client;
                              });
    if (found == impl_->running.end()) return;
    client.requestHandle->Stop();
    client.TakeHopResponse(false, 0);
    impl_->End(**found);
    impl_->running.erase(found);
}

std::vector<HttpClient*> ExchangeLoop::Run(std::chrono::milliseconds wait) {
    if (impl_->ended.empty() && impl_->multi != nullptr) {
        // A transfer just added, or one with bytes left to read, is due at once.
        bool waited = false;
        if (!impl_->TimerDue()) {
            const Impl::Clock::time_point now = Impl::Clock::now();
            const Impl::Clock::time_point due = impl_->timeKeepingDue;
            auto untilTimeKeeping = kMaxPollWait;
            if (due <= now) {
                untilTimeKeeping = std::chrono::milliseconds(0);
            } else if (due - now < kMaxPollWait) {
                untilTimeKeeping = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            }
            const auto timeout = std::clamp(std::min(wait, untilTimeKeeping),
                                            std::chrono::milliseconds(0), kMaxPollWait);
            curl_multi_poll(impl_->multi, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
            waited = true;
        }
        impl_->Advance(waited);
    }
    return std::exchange(impl_->ended, {});
}
void ExchangeLoop::RestartClocks() {
    for (auto& exchange : impl_->running) exchange->client->requestHandle->RestartTimeKeeping();
}

void ExchangeLoop::Wake() {
    if (impl_->multi != nullptr) curl_multi_wakeup(impl_->multi);
}

std::size_t ExchangeLoop::Running() const {
    return impl_->running.size();
}

}  // namespace velmora
