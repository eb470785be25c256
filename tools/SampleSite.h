#pragma once
// The sample directory site: an HTTP/1.1 server on 127.0.0.1 that answers the company search
// and the company pages for any keyword (see SiteContent.h), with latency and faults on demand.
// It runs in-process for tests and benchmarks, and as velmora-sample-site for the demo.
// Each connection has a thread of its own, so latency on one never delays another, and
// connections stay open between requests unless the client asks otherwise.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/SiteContent.h"
#include "tools/SiteFaults.h"

namespace velmora::site {

struct RecordedRequest {
    int number = 0;      // 1-based arrival order over all connections
    int connection = 0;  // 1-based accept order of the connection it came on
    std::string method;
    std::string target;  // as sent: path and query
    std::string version;
    std::vector<std::string> headerLines;  // as received, in order, without CR LF
    std::optional<FaultKind> fault;        // what was done to it instead of a plain answer
    // The concurrency log: when it arrived and when its answer started to go out (or it was
    // dropped; the epoch until then), how many connections were open as it arrived, and how
    // many requests were waiting for their answer then, this one included.
    std::chrono::steady_clock::time_point arrived;
    std::chrono::steady_clock::time_point answered;
    int openConnections = 0;
    int inFlight = 0;

    // The value of the first header line with this name (any case); nothing when absent.
    [[nodiscard]] std::optional<std::string> Header(std::string_view name) const;
};

// Bounds of the options; Start refuses values beyond them (and negative ones).
inline constexpr int kMaxPages = 100000;
inline constexpr int kMaxLinksPerPage = 1000;  // a result page stays near 1 MB at most
static_assert(kMaxPages * kMaxLinksPerPage <= kMaxCompanyNumber);
// A many-links page holds this many at most, about 20 MB, under a client's body cap.
inline constexpr int kMaxManyLinks = 200000;
inline constexpr int kMaxDelayMs = 10 * 60 * 1000;
inline constexpr std::size_t kMaxCompanyPageBytes = 64 * 1024 * 1024;

struct SiteOptions {
    std::uint16_t port = 0;  // 0: an ephemeral port
    int pages = 10;          // result pages of every keyword; 0: nothing is found
    int linksPerPage = 20;
    int latencyMs = 0;  // from a request's arrival to its answer
    // A site that slows down under load: each other request being answered as one arrives adds
    // this much to its latency.
    int loadLatencyMs = 0;
    std::size_t companyPageBytes = 30000;  // company pages are at least this long
    int slowMs = 2000;                     // a slow answer takes this long to trickle out
    int trickleMs = 1000;    // a trickled answer sends a header line or a body byte this often
    int manyLinks = 100000;  // links on a many-links result page
    std::size_t hugePageBytes = 50 * 1024 * 1024;  // a huge company page is at least this long
    int lateMs = 50;  // bytes nobody asked for follow a late-bytes answer after this long
    std::vector<std::string> noHitsKeywords;  // UTF-8 keywords that find nothing
    std::vector<FaultRule> faults;            // the first rule that covers a request applies
    bool sessionCookie = false;               // answers to requests without a Cookie set one
    // Sent as "Retry-After: VALUE" with every 429 and 503 answer; empty: no such line.
    std::string retryAfter;
    // The body of /robots.txt; empty: there is none (404).
    std::string robotsTxt;
    // Called on the connection's thread for each request as it is recorded.
    std::function<void(const RecordedRequest&)> onRequest;
};

class SampleSite {
public:
    explicit SampleSite(SiteOptions options = {});
    // Stops the site and joins every thread it started.
    ~SampleSite();
    SampleSite(const SampleSite&) = delete;
    SampleSite& operator=(const SampleSite&) = delete;

    // Binds 127.0.0.1 and starts serving; false, with Error() telling why, when it cannot.
    [[nodiscard]] bool Start();
    // Closes every connection and joins every thread; held answers are dropped. Idempotent.
    void Stop();
    const std::string& Error() const;

    std::uint16_t Port() const;
    // "http://127.0.0.1:PORT", the prefix of every URL of the site.
    std::string BaseUrl() const;
    // The URL a client sends for a UTF-8 keyword; page 0 is the URL without a page number.
    std::string SearchUrl(std::string_view keyword, int page = 0) const;
    // The URL of company `number` (1-based over the whole search) of a keyword, as linked.
    std::string CompanyUrl(std::string_view keyword, int number) const;
    const SiteOptions& Options() const;

    std::vector<RecordedRequest> Requests() const;
    std::size_t RequestCount() const;
    // The most connections open, and requests being answered, at once since the start.
    int MaxOpenConnections() const;
    int MaxRequestsInFlight() const;
    // Waits until at least `count` requests have arrived since the start or the last
    // ClearRequests; false when the time runs out first.
    [[nodiscard]] bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Forgets the recorded requests; arrival numbers keep counting.
    void ClearRequests();
    // Lets every answer held by a hold fault go, and the ones held later too.
    void ReleaseHeld();
    // Waits until the stray bytes of at least `count` late-bytes answers have been sent; false
    // when the time runs out first.
    [[nodiscard]] bool WaitForLateBytes(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::site
