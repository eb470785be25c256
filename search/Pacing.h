#pragma once
// How a parallel search paces its requests to the site, as plain state: no thread and no clock
// of its own, every time comes in as an argument, so the rules can be tried on any timeline.
//
// The site sets the pace, as a crawler's AutoThrottle lets it: request starts keep an interval
// of delay x a jitter of 0.5 to 1.5 (never under the site's Crawl-delay), and each answer moves
// the delay: delay <- max(latency / N, (delay + latency / N) / 2), the first answer setting it to
// latency / N. Besides, at most `window` requests are in flight: it starts at one and follows
// the site's queue, as delay-based congestion control does. An answer's latency over the lowest
// seen tells how many requests wait at the site behind the ones it serves; while more than one
// waits the window steps down by one, as long as the rate of answers does not fall with it
// (when it does, the site slowed down by itself and that latency is its new floor); with none
// waiting, on an answer sent with the window full, it steps up again, towards N. The site's own
// word comes first: a Retry-After stops every request for as long as it asks, and signs of a block
// (refusals, verification pages) switch the search to one request at a time after a long pause.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <random>
#include <string_view>
#include <vector>

namespace velmora {

using PacingClock = std::chrono::steady_clock;

// The most workers a parallel search may run: the number of requests that crawlers people
// trust allow themselves on one site at once.
inline constexpr int kMaxParallelWorkers = 8;
// A search with this many workers is the serial search.
inline constexpr int kSerialWorkers = 1;

// The pacing's limits; tests shorten the waits, nothing else changes them.
struct PacingRules {
    int workers = 2;  // N: requests in flight at most
    // AutoThrottle's own bound: a site slower than this gets this interval, not a longer one.
    std::chrono::milliseconds maxDelay{60000};
    // robots.txt's Crawl-delay for every agent: no two starts closer than this.
    std::chrono::milliseconds crawlDelay{0};
    // A 429 or 503 without a Retry-After waits this long; a longer Retry-After is cut to the
    // cap, since a site that asks for hours means "not today", which a stop says better.
    std::chrono::milliseconds defaultRetryAfter{30000};
    std::chrono::milliseconds maxRetryAfter{300000};
    // The pause after signs of a block, before the search goes on one request at a time.
    std::chrono::milliseconds blockPause{60000};
};

// What a request brought back, as the pacing reads it.
struct SiteAnswer {
    PacingClock::time_point sentAt;
    PacingClock::time_point answeredAt;
    // Requests in flight as it started, itself included (InFlight after Started); 0: unknown,
    // taken as the window.
    int inFlight = 0;
    int status = 0;  // 0: no response came
    // Retry-After as parsed (ParseRetryAfter); nothing when absent or unreadable.
    std::optional<std::chrono::milliseconds> retryAfter;
    // A company page: its size, and whether its contact block was found.
    bool companyPage = false;
    std::size_t bytes = 0;
    bool contactBlock = false;
    // A result page with neither a company link nor the pager: a verification page, most likely.
    bool notAListing = false;
    // The page was asked once more after a Retry-After already.
    bool askedAgain = false;
};

// What becomes of the page.
enum class PageVerdict {
    kUse,           // as the serial search would: a row, links, or its usual failure
    kAskAgain,      // once a hold ends (a first 429 or 503)
    kRefused,       // failed, not asked again in this search (403, a second 429 or 503)
    kVerification,  // failed: a verification page stood where the page should
};

// Why the search now waits, for the notice field.
enum class PacingEvent {
    kNone,
    kRetryAfter,           // the site asked for a pause (429 or 503)
    kBlockedRefusals,      // two refusals in a row: one request at a time from now on
    kBlockedVerification,  // two verification pages in a row: likewise
};

struct Judgement {
    PageVerdict page = PageVerdict::kUse;
    PacingEvent event = PacingEvent::kNone;
};

class SitePacing {
public:
    // `seed` draws the jitter, so that a run can be repeated.
    SitePacing(const PacingRules& rules, std::uint32_t seed);

    // When the next request may start: nothing while `window` requests are in flight; else
    // the latest of the interval after the last start and the end of a hold.
    [[nodiscard]] std::optional<PacingClock::time_point> NextStart() const;
    // robots.txt has been read: its Crawl-delay for every agent.
    void SetCrawlDelay(std::chrono::milliseconds delay) { rules_.crawlDelay = delay; }
    // A request starts at `now` (NextStart has come): it takes a slot.
    void Started(PacingClock::time_point now);
    // A request ended with nothing the site said (a pause or stop ended it): its slot only.
    void Abandoned();
    // Its answer came: frees the slot, learns from the answer and judges the page.
    Judgement Answered(const SiteAnswer& answer);

    // The end of the hold in force at `now`; nothing when none is.
    [[nodiscard]] std::optional<PacingClock::time_point> HoldEnd(PacingClock::time_point now) const;
    [[nodiscard]] bool Serial() const { return serial_; }
    [[nodiscard]] PacingClock::duration Delay() const { return delay_; }
    [[nodiscard]] int Window() const { return window_; }
    [[nodiscard]] int InFlight() const { return inFlight_; }

private:
    int Target() const { return serial_ ? kSerialWorkers : rules_.workers; }
    [[nodiscard]] PacingClock::time_point IntervalEnd() const;
    void Learn(const SiteAnswer& answer, bool ok);
    // Moves the window by the site's queue as one usual answer shows it.
    void FollowQueue(const SiteAnswer& answer, PacingClock::duration latency);
    void Hold(PacingClock::time_point until);
    // The site's usual company page size: the median of the pages with a contact block.
    [[nodiscard]] std::optional<std::size_t> MedianPageBytes() const;
    void NotePageBytes(std::size_t bytes);

    PacingRules rules_;
    std::minstd_rand random_;
    std::uniform_real_distribution<double> jitter_{0.5, 1.5};

    // Nothing before the first answer: the window of one keeps requests apart until then.
    PacingClock::duration delay_{};
    bool delayLearned_ = false;
    double jitterOfLastStart_ = 1.0;
    std::optional<PacingClock::time_point> lastStart_;
    // Where the interval before the next start began: the last start's due time.
    std::optional<PacingClock::time_point> intervalFrom_;
    int window_ = 1;
    int inFlight_ = 0;
    // The lowest latency of the site's usual answers: its time to serve one request.
    std::optional<PacingClock::duration> floorLatency_;
    // Answers to requests sent before the last cut of the window say nothing new.
    PacingClock::time_point lastCut_{};
    // Answers a second over the window's last step down, when it was one; the next answer
    // tells whether the step cost rate.
    std::optional<double> rateBeforeCut_;
    PacingClock::time_point holdUntil_{};
    bool serial_ = false;
    int refusalsInARow_ = 0;
    int verificationPagesInARow_ = 0;
    // The company page sizes seen, halves of a running median: the lower half's largest on
    // top of one heap, the upper half's smallest on top of the other.
    std::priority_queue<std::size_t> lowerSizes_;
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> upperSizes_;
};

// How long a Retry-After value asks to wait from `now`: delta-seconds, or an HTTP-date in any
// of its three forms (a date past gives zero); nothing when the value is neither.
std::optional<std::chrono::milliseconds> ParseRetryAfter(std::string_view value,
                                                         std::chrono::system_clock::time_point now);

// The Crawl-delay robots.txt sets for every agent (the group of "User-agent: *"), at most
// kMaxCrawlDelay; nothing when it sets none.
std::optional<std::chrono::milliseconds> CrawlDelayForEveryAgent(std::string_view robots);
// A Crawl-delay longer than this is taken as this: a minute between requests already makes a
// search of 2,000 companies last a day and a half.
inline constexpr std::chrono::milliseconds kMaxCrawlDelay{60000};

}  // namespace velmora
