#pragma once
// Faults the sample site injects on chosen requests, so that clients can be tried against a
// slow, broken or changed directory site. Which requests suffer is decided by numbers only, never
// by chance, so a run is repeatable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::site {

// Where a redirect fault sends a request: this prefix before the target it asked for.
inline constexpr std::string_view kMovedPath = "/moved";
// Where a redirect-loop fault sends a request: this prefix before the target, redirected to
// itself.
inline constexpr std::string_view kLoopPath = "/loop";

enum class FaultKind {
    Slow,             // the body trickles out in pieces over SiteOptions::slowMs
    Reset,            // the connection is reset instead of answered
    ServerError,      // "500 Internal Server Error" with a short error page
    TooManyRequests,  // "429 Too Many Requests" with a short error page
    NoMatch,          // a page in changed markup: no markers, links or contact block to find
    NoPageCount,      // a result page with the total but without the page-count marker
    ShortPage,        // a result page whose markers lie before the byte the crawl searches from
    TwoBlocks,        // a company page with a second company's contact block after its own
    Hold,             // no answer until SampleSite::ReleaseHeld() or the site stops
    Trickle,          // header lines, then body bytes, one each SiteOptions::trickleMs
    EndlessCount,     // a result page whose pager claims kEndlessPageCount pages
    ManyLinks,        // a result page of SiteOptions::manyLinks links, one line each
    Huge,           // a company page of SiteOptions::hugePageBytes, its contact block near the top
    ControlBytes,   // terminal control characters in the total and in every company cell
    LateBytes,      // a keep-alive answer followed SiteOptions::lateMs later by a stray response
    Redirect,       // "301 Moved Permanently" to the same target under kMovedPath, which the site
                    // answers as the target itself and never redirects again
    Forbidden,      // "403 Forbidden" with a short error page
    Unavailable,    // "503 Service Unavailable" with a short error page
    Verification,   // a short verification page (RenderVerificationPage) in place of any page
    RedirectLoop,   // "302 Found" to the same target under kLoopPath, which the site answers with
                    // a redirect to itself, for ever
    NegativeCount,  // a result page whose pager claims minus its number of pages
    Overwork,       // a company page that no bounded pattern search gets through (Markup::Overwork)
};

// What the numbers of a rule count.
enum class FaultScope {
    Request,     // 1-based arrival number over all connections
    Company,     // 1-based company number of a company page
    ResultPage,  // page parameter of a search request; 0 is the search URL without one
};

struct FaultRule {
    FaultKind kind = FaultKind::ServerError;
    FaultScope scope = FaultScope::Request;
    std::vector<int> numbers;  // exact numbers that get the fault
    int every = 0;             // > 0: numbers every, 2 * every, ... get it too
    int from = 0;              // > 0: numbers from, from + 1, ... get it too
    bool all = false;          // every request of the scope gets it
    bool once = false;         // only the first request for each number gets it

    [[nodiscard]] bool Covers(int number) const;
};

// Parses "KIND[:SCOPE[=WHICH]][:once]": KIND is slow, reset, 500, 429, nomatch, nocount, short,
// twoblocks, hold, trickle, endless, manylinks, huge, control, late, redirect, 403, 503,
// verify, loop, negcount or overwork; SCOPE is request, company or page; WHICH is a comma-separated
// list of numbers, "every-N" or "from-N" (N and every number after it). Without WHICH the whole
// scope gets the fault, without a scope every request; with "once" only the first request for each
// number does. Returns nothing for anything else.
[[nodiscard]] std::optional<FaultRule> ParseFaultRule(std::string_view text);

std::string_view FaultKindName(FaultKind kind);

}  // namespace velmora::site
