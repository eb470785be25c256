#include "http/ExchangeLoop.h"

#include <algorithm>
#include <utility>

#include "http/CurlTransport.h"
#include "http/HttpClient.h"

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

struct ExchangeLoop::Impl {
    // Before the multi handle: its connections close into the pool as it is cleaned up.
    SocketPool sockets;
    CURLM* multi = nullptr;
    std::vector<std::unique_ptr<Exchange>> running;
    std::vector<HttpClient*> ended;
    // The soonest time-keeping check a running transfer asked for.
    std::chrono::milliseconds timeKeepingWait = kMaxPollWait;

    bool Launch(Exchange& exchange);
    // The hop's transfer has ended: goes on as SendHop does. False once the exchange is over.
    bool NextHop(Exchange& exchange);
    void End(Exchange& exchange);
    void Advance();
};

bool ExchangeLoop::Impl::Launch(Exchange& exchange) {
    HttpClient& client = *exchange.client;
    client.sessionHandle->sockets = &sockets;
    exchange.finished = false;
    // The pool's idle connections, not the ones serving a transfer now.
    std::vector<int> portsInUse;
    for (const auto& other : running) {
        const HttpClient::Transfer* transfer = other->client->requestHandle.get();
        if (other.get() != &exchange && transfer != nullptr && transfer->LocalPort() != 0) {
            portsInUse.push_back(transfer->LocalPort());
        }
    }
    sockets.ShutDownIdleWithInput(portsInUse);
    return client.requestHandle->Attach(*client.sessionHandle, exchange.setup, client.readBuffer,
                                        exchange.limit, multi);
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

void ExchangeLoop::Impl::Advance() {
    if (multi == nullptr) return;
    int stillRunning = 0;
    curl_multi_perform(multi, &stillRunning);
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
    timeKeepingWait = kMaxPollWait;
    for (auto& exchange : running) {
        if (exchange->finished) continue;
        const auto wait = exchange->client->requestHandle->KeepTime();
        if (wait) {
            timeKeepingWait = std::min(timeKeepingWait, *wait);
        } else {
            exchange->finished = true;
        }
    }
    // NextHop may launch a hop, which is then unfinished again.
    for (auto& exchange : running) {
        if (exchange->finished) exchange->over = !NextHop(*exchange);
    }
    std::erase_if(running,
                  [](const std::unique_ptr<Exchange>& exchange) { return exchange->over; });
}

ExchangeLoop::ExchangeLoop() : impl_(std::make_unique<Impl>()) {
    if (!InitialiseCurlOnce()) return;
    impl_->multi = curl_multi_init();
    if (impl_->multi != nullptr) {
        curl_multi_setopt(impl_->multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                          kDefaultConnectionsPerServer);
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
    impl_->Advance();
    if (impl_->ended.empty() && impl_->multi != nullptr) {
        const auto timeout = std::clamp(std::min(wait, impl_->timeKeepingWait),
                                        std::chrono::milliseconds(0), kMaxPollWait);
        curl_multi_poll(impl_->multi, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
        impl_->Advance();
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
