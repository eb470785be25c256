#pragma once
// Many clients' GETs driven by one thread. Each exchange runs as HttpClient::Get and ReadBody run
// it (the same steps: redirects and their bound, the retry on a fresh connection, the limits,
// the cookies, the error texts), but its transfers go through one libcurl multi handle: one
// poll waits for all of them, and they share its connections and DNS cache.
//
// One thread runs the loop: StartGet, Abandon, Run and RestartClocks are its own. Wake may be
// called from any thread.

#include <chrono>
#include <memory>
#include <vector>

#include "text/Text.h"

namespace velmora {

class HttpClient;

class ExchangeLoop {
public:
    ExchangeLoop();
    // Abandons every exchange still running.
    ~ExchangeLoop();
    ExchangeLoop(const ExchangeLoop&) = delete;
    ExchangeLoop& operator=(const ExchangeLoop&) = delete;

    // Starts a GET of `url` on `client`, whose body is read up to `maxChunks` 1 KB chunks
    // (0: all of it, up to the size cap). The client is the loop's until Run names it: it then
    // answers as after Get and ReadBody(maxChunks). An exchange that cannot start is named by
    // the next Run. The client must not be driven by this loop already.
    void StartGet(HttpClient& client, const Text& url, int maxChunks = 0);
    // Ends the client's exchange now, as a stop ends a request: it fails with kStopped and an
    // empty body, and Run does not name it.
    void Abandon(HttpClient& client);
    // Moves every exchange on; waits, when none ended, for the network, a Wake or `wait` at
    // most; answers the clients whose exchange ended.
    std::vector<HttpClient*> Run(std::chrono::milliseconds wait);
    // The time since the last Run was no exchange's to use (the loop's thread was held).
    void RestartClocks();
    void Wake();
    [[nodiscard]] std::size_t Running() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
