// The parallel search's pacing on a timeline of its own: the interval and the window as answers
// come, the site's Retry-After, the signs of a block, and the two texts it reads from the site.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "search/Pacing.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr int kWorkers = 4;
const PacingClock::time_point kStart{};

PacingRules Rules() {
    PacingRules rules;
    rules.workers = kWorkers;
    return rules;
}

// One request, started when the pacing lets it, answered `latency` later.
SiteAnswer Exchange(SitePacing& pacing, PacingClock::duration latency, int status = 200) {
    const PacingClock::time_point sent = std::max(kStart, pacing.NextStart().value());
    pacing.Started(sent);
    SiteAnswer answer;
    answer.sentAt = sent;
    answer.answeredAt = sent + latency;
    answer.status = status;
    return answer;
}

TEST(PacingTest, StartsOneAtATimeAtTheFirstAnswersPaceThenFollowsTheLatency) {
    SitePacing pacing(Rules(), 7);
    ASSERT_EQ(pacing.NextStart(), kStart);
    pacing.Started(kStart);
    EXPECT_FALSE(pacing.NextStart()) << "one request at a time at first";

    SiteAnswer answer;
    answer.sentAt = kStart;
    answer.answeredAt = kStart + 100ms;
    answer.status = 200;
    pacing.Answered(answer);
    EXPECT_EQ(pacing.Delay(), 25ms) << "latency / N from the first answer on";
    const auto interval = pacing.NextStart().value() - kStart;
    EXPECT_GE(interval, 25ms / 2);
    EXPECT_LE(interval, 25ms * 3 / 2) << "the jitter drawn at the start, on today's delay";

    // delay <- max(latency / N, (delay + latency / N) / 2).
    pacing.Answered(Exchange(pacing, 300ms));
    EXPECT_EQ(pacing.Delay(), 75ms);
    for (int i = 0; i < 20; ++i) pacing.Answered(Exchange(pacing, 100ms));
    EXPECT_LT(pacing.Delay() - 25ms, 1ms) << "down to latency / N";
    EXPECT_EQ(pacing.Window(), kWorkers) << "answers at the floor open the window to N";

    const auto before = pacing.Delay();
    pacing.Answered(Exchange(pacing, 1ms, 500));
    EXPECT_EQ(pacing.Delay(), before) << "a fast error never speeds the pace up";
}

TEST(PacingTest, OnlyAnswersSentWithTheWindowFullWidenIt) {
    SitePacing pacing(Rules(), 7);
    // One at a time, as a search's first requests go before it has tasks for more.
    for (int i = 0; i < 4; ++i) {
        SiteAnswer answer = Exchange(pacing, 100ms);
        answer.inFlight = 1;
        pacing.Answered(answer);
    }
    EXPECT_EQ(pacing.Window(), 2) << "one in flight shows nothing of three";

    for (int window = 2; window < kWorkers; ++window) {
        for (int i = 0; i < window; ++i) pacing.Started(kStart);
        SiteAnswer answer;
        answer.sentAt = kStart;
        answer.answeredAt = kStart + 100ms;
        answer.status = 200;
        answer.inFlight = window;
        for (int i = 0; i < window; ++i) pacing.Answered(answer);
        EXPECT_EQ(pacing.Window(), window + 1) << "a full window at the floor: one more";
    }
}

// A site on a timeline of its own: each answer takes `base` plus `perWaiting` for every other
// request it is serving as the request arrives. Runs `requests` requests as the pacing lets them
// go and answers the mean number in flight as they arrived over the second half.
struct SimulatedSite {
    PacingClock::duration base;
    PacingClock::duration perWaiting;
};

double MeanInFlight(SitePacing& pacing, PacingClock::time_point& now, SimulatedSite site,
                    int requests) {
    std::vector<SiteAnswer> inFlight;
    int sum = 0;
    for (int started = 0; started < requests || !inFlight.empty();) {
        const auto earliest = std::min_element(
            inFlight.begin(), inFlight.end(),
            [](const SiteAnswer& a, const SiteAnswer& b) { return a.answeredAt < b.answeredAt; });
        const std::optional<PacingClock::time_point> next = pacing.NextStart();
        if (started < requests && next &&
            (inFlight.empty() || std::max(*next, now) <= earliest->answeredAt)) {
            now = std::max(*next, now);
            pacing.Started(now);
            const int waiting = pacing.InFlight();
            if (started++ >= requests / 2) sum += waiting;
            SiteAnswer answer;
            answer.sentAt = now;
            answer.inFlight = waiting;
            answer.answeredAt = now + site.base + site.perWaiting * (waiting - 1);
            answer.status = 200;
            inFlight.push_back(answer);
        } else {
            now = earliest->answeredAt;
            pacing.Answered(*earliest);
            inFlight.erase(earliest);
        }
    }
    return static_cast<double>(sum) / (requests - requests / 2);
}

TEST(PacingTest, TheWindowStepsDownWhileTheSiteQueuesAndUpWhenItRecovers) {
    constexpr int kRequests = 200;
    PacingRules rules = Rules();
    rules.workers = 8;
    SitePacing pacing(rules, 7);
    PacingClock::time_point now = kStart;
    EXPECT_GT(MeanInFlight(pacing, now, {100ms, 0ms}, kRequests), 7.5) << "a steady site gets N";

    const double loaded = MeanInFlight(pacing, now, {100ms, 100ms}, kRequests);
    EXPECT_LE(loaded, 2.0) << "one request served, one waiting";
    EXPECT_GE(loaded, 1.5) << "the site is kept busy";

    EXPECT_GT(MeanInFlight(pacing, now, {100ms, 0ms}, kRequests), 7.5)
        << "back up once it recovers";
    EXPECT_GT(MeanInFlight(pacing, now, {400ms, 0ms}, kRequests), 7.5)
        << "a site slower by itself: stepping down would only cost rate";
}

TEST(PacingTest, AStartThatCameLateDoesNotPutOffTheNext) {
    PacingRules rules = Rules();
    rules.workers = 1;
    SitePacing pacing(rules, 7);
    pacing.Answered(Exchange(pacing, 100ms));
    ASSERT_EQ(pacing.Delay(), 100ms);
    // Due within 150 ms, started at 1 s: the interval runs from one delay before it.
    const PacingClock::time_point late = kStart + 1s;
    pacing.Started(late);
    SiteAnswer answer;
    answer.sentAt = late;
    answer.answeredAt = late + 100ms;
    answer.status = 200;
    pacing.Answered(answer);
    EXPECT_LE(pacing.NextStart().value() - late, 50ms);
}

TEST(PacingTest, NeverUnderTheCrawlDelay) {
    SitePacing pacing(Rules(), 7);
    pacing.SetCrawlDelay(3s);
    for (int i = 0; i < 10; ++i) {
        const SiteAnswer answer = Exchange(pacing, 10ms);
        pacing.Answered(answer);
        EXPECT_GE(pacing.NextStart().value() - answer.sentAt, 3s);
    }
}

TEST(PacingTest, RetryAfterHoldsEveryRequestAndThePageIsAskedOnceMore) {
    struct Case {
        int status;
        std::optional<milliseconds> retryAfter;
        milliseconds hold;
    };
    const PacingRules rules = Rules();
    for (const Case& c : {Case{429, 5s, 5s}, Case{503, std::nullopt, rules.defaultRetryAfter},
                          Case{429, 3600s, rules.maxRetryAfter}, Case{503, 0s, 0s}}) {
        SCOPED_TRACE(c.status);
        SitePacing pacing(rules, 7);
        SiteAnswer answer = Exchange(pacing, 100ms, c.status);
        answer.retryAfter = c.retryAfter;
        const Judgement first = pacing.Answered(answer);
        EXPECT_EQ(first.page, PageVerdict::kAskAgain);
        EXPECT_EQ(first.event, PacingEvent::kRetryAfter);
        EXPECT_GE(pacing.NextStart().value(), answer.answeredAt + c.hold);
        EXPECT_EQ(pacing.HoldEnd(answer.answeredAt).has_value(), c.hold > 0s);

        SiteAnswer again = Exchange(pacing, 100ms, c.status);
        again.askedAgain = true;
        EXPECT_EQ(pacing.Answered(again).page, PageVerdict::kRefused) << "asked once more only";
    }
}

TEST(PacingTest, TwoSignsOfABlockInARowSwitchToOneAtATimeAfterAPause) {
    constexpr std::size_t kPageBytes = 30000;
    constexpr std::size_t kVerificationBytes = 1000;
    struct Sign {
        int status;
        std::size_t bytes;
        bool contactBlock;
    };
    struct Case {
        const char* name;
        std::vector<Sign> answers;
        PacingEvent event;  // kNone: no switch
    };
    const Sign page{200, kPageBytes, true};
    const Sign verification{200, kVerificationBytes, false};
    const Case cases[] = {
        {"two refusals", {{403, 0, false}, {429, 0, false}}, PacingEvent::kBlockedRefusals},
        {"refusals apart", {{403, 0, false}, page, {403, 0, false}}, PacingEvent::kNone},
        {"two verification pages", {verification, verification}, PacingEvent::kBlockedVerification},
        {"a small page with a block",
         {verification, {200, kVerificationBytes, true}, verification},
         PacingEvent::kNone},
        {"a page without a block, of the usual size",
         {verification, {200, kPageBytes, false}, verification},
         PacingEvent::kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SitePacing pacing(Rules(), 7);
        // The usual size is known once a few real pages have come.
        for (int i = 0; i < 5; ++i) {
            SiteAnswer answer = Exchange(pacing, 10ms);
            answer.companyPage = true;
            answer.bytes = kPageBytes + static_cast<std::size_t>(i);
            answer.contactBlock = true;
            pacing.Answered(answer);
        }
        Judgement last;
        PacingClock::time_point answeredAt;
        for (const Sign& sign : c.answers) {
            SiteAnswer answer = Exchange(pacing, 10ms, sign.status);
            answer.companyPage = true;
            answer.bytes = sign.bytes;
            answer.contactBlock = sign.contactBlock;
            answer.askedAgain = true;
            last = pacing.Answered(answer);
            answeredAt = answer.answeredAt;
            if (sign.status == 200 && !sign.contactBlock && sign.bytes == kVerificationBytes) {
                EXPECT_EQ(last.page, PageVerdict::kVerification);
            }
            if (sign.status == 403) {
                EXPECT_EQ(last.page, PageVerdict::kRefused);
            }
        }
        EXPECT_EQ(last.event, c.event);
        EXPECT_EQ(pacing.Serial(), c.event != PacingEvent::kNone);
        if (c.event == PacingEvent::kNone) continue;
        EXPECT_EQ(pacing.Window(), 1);
        EXPECT_EQ(pacing.HoldEnd(answeredAt), answeredAt + Rules().blockPause);
        pacing.Started(pacing.NextStart().value());
        EXPECT_FALSE(pacing.NextStart()) << "one at a time from now on";
    }
}

TEST(PacingTest, ReadsRetryAfterInEveryForm) {
    // Sun, 06 Nov 1994 08:49:37 GMT.
    const auto now = std::chrono::sys_days(std::chrono::year(1994) / 11 / 6) + 8h + 49min + 37s;
    struct Case {
        const char* value;
        std::optional<milliseconds> wait;
    };
    const Case cases[] = {
        {"120", 120s},
        {" 0 ", 0s},
        {"Sun, 06 Nov 1994 08:50:07 GMT", 30s},
        {"Sunday, 06-Nov-94 08:49:47 GMT", 10s},
        {"Sun Nov  6 08:49:42 1994", 5s},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0s},
        {"99999999999999", milliseconds::max()},
        {"", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"soon", std::nullopt},
        {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseRetryAfter(c.value, now), c.wait) << c.value;
    }
}

TEST(PacingTest, ReadsTheCrawlDelayForEveryAgent) {
    struct Case {
        const char* robots;
        std::optional<milliseconds> delay;
    };
    const Case cases[] = {
        {"User-agent: *\nCrawl-delay: 2\n", 2s},
        {"user-agent: *\r\ncrawl-delay: 0.5 # half a second\r\n", 500ms},
        {"User-agent: bot\nUser-agent: *\nCrawl-delay: 3\n", 3s},
        {"User-agent: bot\nCrawl-delay: 9\nUser-agent: *\nDisallow: /x\n", std::nullopt},
        {"User-agent: *\nDisallow: /x\nUser-agent: bot\nCrawl-delay: 4\n", std::nullopt},
        {"User-agent: *\nCrawl-delay: 86400\n", kMaxCrawlDelay},
        {"User-agent: *\nCrawl-delay: 12345678901234\n", kMaxCrawlDelay},
        {"User-agent: *\nCrawl-delay: soon\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CrawlDelayForEveryAgent(c.robots), c.delay) << c.robots;
    }
}

}  // namespace
}  // namespace velmora
